#include "line.h"

namespace vek::sim {

unsigned bitsPerChar(const LineSettings& line) { return line.parity == Parity::None ? 10u : 11u; }

Micros charTimeUs(const LineSettings& line)
{
    // Rounded up so that a silence is never declared a microsecond early.
    const auto bits = static_cast<Micros>(bitsPerChar(line)) * 1'000'000;
    return (bits + line.baud - 1) / line.baud;
}

Micros silenceUs(const LineSettings& line)
{
    const auto bits = static_cast<Micros>(bitsPerChar(line)) * 3'500'000;
    return (bits + line.baud - 1) / line.baud;
}

std::optional<Parity> parityFromCode(std::uint16_t code)
{
    switch (code) {
    case 0: return Parity::None;
    case 1: return Parity::Even;
    case 2: return Parity::Odd;
    default: return std::nullopt;
    }
}

std::optional<unsigned> baudFromCode(std::uint16_t code)
{
    switch (code) {
    case 0: return 9600u;
    case 1: return 19200u;
    default: return std::nullopt;
    }
}

std::uint16_t parityCode(Parity parity)
{
    switch (parity) {
    case Parity::None: return 0;
    case Parity::Even: return 1;
    case Parity::Odd: return 2;
    }
    return 0;
}

std::uint16_t baudCode(unsigned baud) { return baud == 19200 ? 1 : 0; }

std::optional<Parity> parseParity(std::string_view text)
{
    if (text == "none")
        return Parity::None;
    if (text == "even")
        return Parity::Even;
    if (text == "odd")
        return Parity::Odd;
    return std::nullopt;
}

std::string_view parityName(Parity parity)
{
    switch (parity) {
    case Parity::None: return "none";
    case Parity::Even: return "even";
    case Parity::Odd: return "odd";
    }
    return "none";
}

std::string describe(const LineSettings& line)
{
    const char p = line.parity == Parity::None ? 'N' : line.parity == Parity::Even ? 'E' : 'O';
    return std::to_string(line.baud) + " 8" + p + "1";
}

}  // namespace vek::sim
