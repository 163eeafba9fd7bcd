// CRC-16 of Modbus RTU frames (polynomial 0xA001 bit-reversed, start 0xFFFF, no final xor).
#pragma once
#include <cstddef>
#include <cstdint>

namespace vek {

// The two halves of the table-driven CRC: entry k is the low (high) byte of the CRC
// register after shifting k through the polynomial eight times.
extern const std::uint8_t ucCRCTableLo[256];
extern const std::uint8_t ucCRCTableHi[256];

// CRC of the first `length` bytes of `frame`. Its low byte goes on the wire first.
std::uint16_t usMBCRC16(const std::uint8_t* frame, std::size_t length);

}  // namespace vek
