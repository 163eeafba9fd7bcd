// The Modbus RTU slave: checks a received frame and answers it from the register image.
#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "line.h"
#include "register_image.h"

namespace vek::sim {

namespace exc {
constexpr std::uint8_t kIllegalFunction = 0x01;
constexpr std::uint8_t kIllegalAddress = 0x02;
constexpr std::uint8_t kIllegalValue = 0x03;
}  // namespace exc

// A frame that passed the CRC and is for this slave (or for everyone).
struct Request {
    std::uint8_t address = 0;  // 0 = broadcast
    std::uint8_t function = 0;
    std::vector<std::uint8_t> frame;  // the whole frame, CRC included
    bool broadcast() const { return address == 0; }
};

// Why a frame is not a request for us. A slave answers none of these.
enum class Ignored { None, TooShort, TooLong, BadCrc, OtherSlave, Garbled };
const char* describe(Ignored reason);

struct Screened {
    Ignored reason = Ignored::None;
    Request request;  // valid when reason == None
};

Screened screen(std::span<const std::uint8_t> frame, std::uint8_t ourAddress);

struct RegisterWrite {
    int number;
    std::uint16_t before;
    std::uint16_t after;
};

struct Outcome {
    std::vector<std::uint8_t> reply;  // complete frame with CRC; empty for a broadcast
    std::optional<std::uint8_t> exception;
    std::vector<RegisterWrite> writes;
    // Effects the device applies only once its reply has left: until then it still listens
    // at the old address and line settings.
    std::optional<std::uint8_t> newAddress;
    std::optional<LineSettings> newLine;
};

// Carries out a screened request on the image. `line` is the slave's current line setting,
// from which a write of only one of parity or baud takes the other half.
Outcome execute(const Request& request, RegisterImage& image, LineSettings line);

// address, function | 0x80, code, CRC.
std::vector<std::uint8_t> exceptionFrame(std::uint8_t address, std::uint8_t function, std::uint8_t code);

// Appends the CRC, low byte first.
void appendCrc(std::vector<std::uint8_t>& frame);
bool crcOk(std::span<const std::uint8_t> frame);

}  // namespace vek::sim
