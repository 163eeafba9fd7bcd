// What went over the line: every frame the program sent or took, in order, with the time,
// the bytes and the outcome the program drew from the exchange. The recorder keeps the last
// kTrafficCapacity frames in a ring whose slots are reused, so recording costs a copy of the
// bytes and nothing else, whether or not a window shows them.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vek {

inline constexpr std::size_t kTrafficCapacity = 10000;
// The outcome of a request row whose port could not be opened.
inline constexpr const char* kNotSentText = "not sent (the port is not open)";

// How a frame is shown (its colour) and whether "errors only" keeps it.
enum class TrafficKind {
    Request,      // a frame the program sent
    Valid,        // a reply that passed every check
    FailedCheck,  // -CRC-, -UID-, -FUNCCODE-, -BYTESNUM-
    Exception,    // the slave refused the request
    NoResponse,   // nothing usable arrived in time; the bytes are whatever waited
    SerialError,  // the port failed (or could not be opened) while the reply was read
};

struct TrafficFrame {
    std::uint64_t seq = 0;  // 0 for the first frame of the session, never reused
    double wallTime = 0;    // seconds since the epoch, to the millisecond
    bool sent = false;      // true: master to slave
    std::vector<std::uint8_t> bytes;
    TrafficKind kind = TrafficKind::Request;
    bool failedExchange = false;  // set on both frames of an exchange that did not end valid
    std::string outcome;          // "sent", "valid", or the program's message for the reply
    double replyMs = -1;          // request to reply, on the reply's frame; -1 on a request
    bool mbap = false;            // the bytes are a Modbus TCP frame (MBAP header, no CRC)
};

class TrafficRecorder {
public:
    // Keeps the last `capacity` frames (kTrafficCapacity for the program).
    explicit TrafficRecorder(std::size_t capacity = kTrafficCapacity);

    // Appends one frame; the oldest goes once kTrafficCapacity are kept.
    // `mbap`: the bytes are a Modbus TCP frame, as a gateway of that kind was sent or sent them.
    void Record(double wallTime, bool sent, const std::uint8_t* bytes, std::size_t count, TrafficKind kind,
                bool failedExchange, const std::string& outcome, double replyMs, bool mbap = false);
    // Drops every frame kept; sequence numbers go on from where they were.
    void Clear();

    // Frames kept are the sequence numbers [firstSeq, endSeq).
    std::uint64_t firstSeq() const { return endSeq_ - count_; }
    std::uint64_t endSeq() const { return endSeq_; }
    std::size_t size() const { return count_; }
    // The frame `seq`; only for firstSeq() <= seq < endSeq().
    const TrafficFrame& at(std::uint64_t seq) const { return ring_[seq % capacity_]; }
    std::size_t capacity() const { return capacity_; }
    bool holds(std::uint64_t seq) const { return seq >= firstSeq() && seq < endSeq_; }

    // Called after every Record and Clear while set: the traffic window sets it while it is
    // open, so a closed window costs nothing.
    std::function<void()> onChange;

private:
    std::size_t capacity_;
    std::vector<TrafficFrame> ring_;  // grows to capacity_ slots, then each is reused
    std::uint64_t endSeq_ = 0;
    std::size_t count_ = 0;
};

// The Modbus name of an exception code ("Illegal data address"), or "" for an unknown one.
std::string ExceptionName(int code);

// What a frame says, in words: slave, function, start register and count (or register and
// value), byte count, the values of a write. `sent` tells a request from a reply, which
// share function codes but not their layout.
std::string DescribeFrame(const std::uint8_t* bytes, std::size_t count, bool sent);
// The same for a Modbus TCP frame: its MBAP header (transaction id, protocol, length), then
// what the unit id and PDU say.
std::string DescribeMbapFrame(const std::uint8_t* bytes, std::size_t count, bool sent);

// The frame's bytes as "01 03 00 00 00 4E C5 EE".
std::string HexText(const std::vector<std::uint8_t>& bytes);

// One row as the window shows it and the saved text writes it.
inline constexpr int kTrafficColumns = 6;
std::array<std::string, kTrafficColumns> TrafficRow(const TrafficFrame& f);
std::array<std::string, kTrafficColumns> TrafficHeader();

// The frames kept, one tab-separated line each under a header line; `errorsOnly` keeps the
// frames of failed exchanges only. With a range, only the frames [from, end) of it that are
// still kept: what a paused window shows.
std::string TrafficText(const TrafficRecorder& r, bool errorsOnly);
std::string TrafficText(const TrafficRecorder& r, bool errorsOnly, std::uint64_t from, std::uint64_t end);

}  // namespace vek
