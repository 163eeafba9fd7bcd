// The simulator's side of a network connection in Modbus TCP: requests cut out of the byte
// stream by their MBAP header and handed to the engine as serial frames, and the engine's
// serial replies sent back with the request's header. Pure: no socket, no clock.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vek::sim {

enum class TcpKind { Rtu, Mbap };

struct MbapRequest {
    std::uint16_t transaction = 0;
    std::uint16_t protocol = 0;
    std::vector<std::uint8_t> rtu;  // unit id as the slave address, the PDU, a CRC
};

class MbapSplitter {
public:
    void feed(const std::uint8_t* bytes, std::size_t n);
    // The next whole request; nullopt while none is complete. A length field no request can
    // have leaves `error` set: the stream cannot be followed past it.
    std::optional<MbapRequest> next(std::string& error);

private:
    std::vector<std::uint8_t> buf_;
};

// The serial reply `rtu` (slave, PDU, CRC) with the MBAP header of `transaction`: the CRC
// is left off, whatever it was. Empty for a reply too short to carry a unit id.
std::vector<std::uint8_t> mbapReply(std::uint16_t transaction, const std::vector<std::uint8_t>& rtu);

}  // namespace vek::sim
