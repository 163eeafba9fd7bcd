// Request builders. Each writes one complete frame, CRC included, into SndFrame from
// byte 0 and returns SndFrame; the bytes behind the frame stay as they were. 16-bit
// fields go high byte first, the CRC low byte first. Fields wider than the frame allows
// are cut to their low 8 or 16 bits.
#pragma once
#include <cstdint>

#include "mb_link_state.h"

namespace vek {

// Functions 1 to 4: the start address goes out unchanged (0-based). 8 bytes.
std::uint8_t* eMBReadCoils(LinkState& s, std::uint8_t slave, std::uint16_t func, std::uint32_t start,
                           std::uint32_t quantity);
std::uint8_t* eMBReadInputs(LinkState& s, std::uint8_t slave, std::uint16_t func, std::uint32_t start,
                            std::uint32_t quantity);
std::uint8_t* eMBReadHoldingRegisters(LinkState& s, std::uint8_t slave, std::uint16_t func, std::uint32_t start,
                                      std::uint32_t quantity);
std::uint8_t* eMBReadInputRegisters(LinkState& s, std::uint8_t slave, std::uint16_t func, std::uint32_t start,
                                    std::uint32_t quantity);
// Function 5: coil address unchanged; FF 00 for any nonzero value, else 00 00. 8 bytes.
std::uint8_t* eMBWriteSingleCoil(LinkState& s, std::uint8_t slave, std::uint16_t func, std::uint32_t coil,
                                 std::uint16_t value);
// Function 6: register NUMBER (1-based) minus one, then the value. 8 bytes.
std::uint8_t* eMBWriteSingleRegister(LinkState& s, std::uint8_t slave, std::uint16_t func, std::uint32_t reg,
                                     std::uint32_t value);
// Function 16 to register number usCoilRegAddress (minus one): 9 + 2N bytes. Returns
// nullptr and builds nothing when the frame would not fit the 256-byte buffer (N > 123)
// or no values are given.
std::uint8_t* eMBWriteMultipleRegisters(LinkState& s, std::uint8_t slave, std::uint32_t quantity,
                                        const std::uint32_t* values);

// The largest function-16 quantity whose frame fits the buffers.
inline constexpr std::uint32_t kMaxWriteMultiple = 123;

}  // namespace vek
