// Modbus TCP framing for the network link: a request the master built as a serial frame
// (slave, PDU, CRC) goes out as the MBAP header (transaction id, protocol 0, length, unit id)
// followed by the PDU; a reply comes back to the master as slave + PDU + a CRC computed here,
// so the master's checks apply unchanged (the CRC then always holds: the wire has none).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace vek::platform::mbap {

inline constexpr int kHeaderSize = 7;             // transaction id, protocol, length, unit id
inline constexpr int kMaxFrame = 260;             // the longest frame Modbus TCP allows
inline constexpr int kMaxLength = kMaxFrame - 6;  // its length field: unit id + PDU of 253 bytes

using Bytes = std::vector<std::uint8_t>;

// The serial request `rtu` (slave, PDU, CRC; `count` bytes) as an MBAP frame carrying
// transaction id `tid`; empty when it holds no PDU or one longer than a frame may carry.
Bytes FromRtu(std::uint16_t tid, const std::uint8_t* rtu, int count);

// Takes MBAP replies out of a byte stream for the request in flight. It is handed bytes in
// any pieces, never more than Want() at a time, so it never reads past the frame it is in:
// a header that can begin no valid frame is refused before any of its body is read.
class Receiver {
public:
    enum class Event {
        None,     // the frame is not complete yet
        Taken,    // the reply to the request in flight: its serial form is in ready()
        Dropped,  // a whole frame that is not that reply (another transaction, another protocol)
        Refused,  // a header whose length no frame has: the stream cannot be followed past it
    };
    // A request with transaction id `tid` went out: its reply is the one to take. What was
    // ready for an earlier request is dropped.
    void Expect(std::uint16_t tid);
    // How many bytes may be pushed next: the rest of the header, or the rest of its frame.
    // 0 once refused (until Reset).
    int Want() const;
    // Hands `n` bytes (at most Want()) of the stream in.
    Event Push(const std::uint8_t* bytes, int n);
    // The reply taken, as it came (MBAP header and PDU); empty until one is taken.
    const Bytes& taken() const { return taken_; }
    // The reply taken, as the serial frame the master expects (empty until one is taken).
    const Bytes& ready() const { return ready_; }
    Bytes& ready() { return ready_; }
    // Why the stream was refused ("" when it was not).
    const std::string& refusal() const { return refusal_; }
    // Forgets everything: a new connection.
    void Reset();

private:
    Event complete();
    Bytes frame_;  // the frame being read, header first
    Bytes ready_;
    Bytes taken_;
    std::uint16_t expected_ = 0;
    bool inFlight_ = false;
    std::string refusal_;
};

}  // namespace vek::platform::mbap
