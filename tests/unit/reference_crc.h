// CRC-16/MODBUS computed a bit at a time straight from the polynomial, so that tests and
// benchmarks check frames against something other than the table the program uses.
#pragma once
#include <cstddef>
#include <cstdint>

namespace vek::test {

inline std::uint16_t referenceCrc(const std::uint8_t* data, std::size_t n)
{
    std::uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= data[i];
        for (int b = 0; b < 8; ++b)
            crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001) : static_cast<std::uint16_t>(crc >> 1);
    }
    return crc;
}

}  // namespace vek::test
