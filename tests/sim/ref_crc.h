// A bit-at-a-time CRC-16/MODBUS written from the polynomial, so that the tests check the
// simulator's frames against something other than the table the simulator itself uses.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "../unit/reference_crc.h"

namespace vek::simtest {

inline std::uint16_t bitwiseCrc(const std::uint8_t* data, std::size_t n) { return test::referenceCrc(data, n); }

// True when the last two bytes are the CRC of the rest, low byte first.
inline bool frameCrcOk(const std::vector<std::uint8_t>& f)
{
    if (f.size() < 3)
        return false;
    const std::uint16_t crc = bitwiseCrc(f.data(), f.size() - 2);
    return f[f.size() - 2] == (crc & 0xFF) && f[f.size() - 1] == (crc >> 8);
}

inline std::vector<std::uint8_t> withCrc(std::vector<std::uint8_t> f)
{
    const std::uint16_t crc = bitwiseCrc(f.data(), f.size());
    f.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    f.push_back(static_cast<std::uint8_t>(crc >> 8));
    return f;
}

inline std::vector<std::uint8_t> readRequest(std::uint8_t slave, int start, int count)
{
    return withCrc({slave, 0x03, static_cast<std::uint8_t>(start >> 8), static_cast<std::uint8_t>(start),
                    static_cast<std::uint8_t>(count >> 8), static_cast<std::uint8_t>(count)});
}

// `number` counts from 1, as the master's register map does; the wire carries number - 1.
inline std::vector<std::uint8_t> writeRequest(std::uint8_t slave, int number, std::uint16_t value)
{
    const int a = number - 1;
    return withCrc({slave, 0x06, static_cast<std::uint8_t>(a >> 8), static_cast<std::uint8_t>(a),
                    static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)});
}

// Register n of a function-3 reply that started at register 1.
inline std::uint16_t replyRegister(const std::vector<std::uint8_t>& reply, int n)
{
    return static_cast<std::uint16_t>((reply[static_cast<std::size_t>(2 * n + 1)] << 8) |
                                      reply[static_cast<std::size_t>(2 * n + 2)]);
}

}  // namespace vek::simtest
