// Line settings of the simulated transmitter and the character timing that follows from them.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vek::sim {

// All simulator time is monotonic microseconds; the pure parts never read a clock themselves.
using Micros = std::int64_t;

enum class Parity { None, Even, Odd };

struct LineSettings {
    unsigned baud = 9600;
    Parity parity = Parity::None;
    bool operator==(const LineSettings&) const = default;
};

// A character is start + 8 data + parity (if any) + one stop bit: 10 bits at 8N1, which is
// why a 161-byte poll reply takes 167.7 ms at 9600 baud.
unsigned bitsPerChar(const LineSettings& line);
Micros charTimeUs(const LineSettings& line);
// End of frame: 3.5 character times without a byte.
Micros silenceUs(const LineSettings& line);

// The transmitter keeps its own line settings in registers 74 (parity) and 75 (baud rate)
// as ring codes: parity 0 none, 1 even, 2 odd; baud 0 = 9600, 1 = 19200.
std::optional<Parity> parityFromCode(std::uint16_t code);
std::optional<unsigned> baudFromCode(std::uint16_t code);
std::uint16_t parityCode(Parity parity);
std::uint16_t baudCode(unsigned baud);

std::optional<Parity> parseParity(std::string_view text);
std::string_view parityName(Parity parity);
// "9600 8N1", "19200 8E1" - what the banner and the log say.
std::string describe(const LineSettings& line);

}  // namespace vek::sim
