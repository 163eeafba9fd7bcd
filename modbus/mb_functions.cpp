#include "mb_functions.h"

#include "mb_crc.h"

namespace vek {

namespace {

void put16(std::uint8_t* p, std::uint32_t v)
{
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
}

void sealCrc(std::uint8_t* frame, std::size_t len)
{
    const std::uint16_t crc = usMBCRC16(frame, len);
    frame[len] = static_cast<std::uint8_t>(crc);
    frame[len + 1] = static_cast<std::uint8_t>(crc >> 8);
}

// The four reads share one layout; only the function code differs.
std::uint8_t* buildRead(LinkState& s, std::uint8_t slave, std::uint16_t func, std::uint32_t start,
                        std::uint32_t quantity)
{
    std::uint8_t* f = s.SndFrame;
    f[0] = slave;
    f[1] = static_cast<std::uint8_t>(func);
    put16(f + 2, start);
    put16(f + 4, quantity);
    sealCrc(f, 6);
    return f;
}

}  // namespace

std::uint8_t* eMBReadCoils(LinkState& s, std::uint8_t slave, std::uint16_t func, std::uint32_t start,
                           std::uint32_t quantity)
{
    return buildRead(s, slave, func, start, quantity);
}

std::uint8_t* eMBReadInputs(LinkState& s, std::uint8_t slave, std::uint16_t func, std::uint32_t start,
                            std::uint32_t quantity)
{
    return buildRead(s, slave, func, start, quantity);
}

std::uint8_t* eMBReadHoldingRegisters(LinkState& s, std::uint8_t slave, std::uint16_t func, std::uint32_t start,
                                      std::uint32_t quantity)
{
    return buildRead(s, slave, func, start, quantity);
}

std::uint8_t* eMBReadInputRegisters(LinkState& s, std::uint8_t slave, std::uint16_t func, std::uint32_t start,
                                    std::uint32_t quantity)
{
    return buildRead(s, slave, func, start, quantity);
}

std::uint8_t* eMBWriteSingleCoil(LinkState& s, std::uint8_t slave, std::uint16_t func, std::uint32_t coil,
                                 std::uint16_t value)
{
    std::uint8_t* f = s.SndFrame;
    f[0] = slave;
    f[1] = static_cast<std::uint8_t>(func);
    put16(f + 2, coil);
    f[4] = value != 0 ? 0xFF : 0x00;
    f[5] = 0x00;
    sealCrc(f, 6);
    return f;
}

std::uint8_t* eMBWriteSingleRegister(LinkState& s, std::uint8_t slave, std::uint16_t func, std::uint32_t reg,
                                     std::uint32_t value)
{
    std::uint8_t* f = s.SndFrame;
    f[0] = slave;
    f[1] = static_cast<std::uint8_t>(func);
    // Callers name registers from 1; the wire counts from 0 (register 0 wraps to FF FF).
    put16(f + 2, reg - 1);
    put16(f + 4, value);
    sealCrc(f, 6);
    return f;
}

std::uint8_t* eMBWriteMultipleRegisters(LinkState& s, std::uint8_t slave, std::uint32_t quantity,
                                        const std::uint32_t* values)
{
    if (quantity > kMaxWriteMultiple || (quantity > 0 && values == nullptr))
        return nullptr;
    std::uint8_t* f = s.SndFrame;
    f[0] = slave;
    f[1] = 0x10;
    put16(f + 2, s.usCoilRegAddress - 1);
    put16(f + 4, quantity);
    f[6] = static_cast<std::uint8_t>(2 * quantity);
    for (std::uint32_t i = 0; i < quantity; ++i)
        put16(f + 7 + 2 * i, values[i]);
    sealCrc(f, 7 + 2 * quantity);
    return f;
}

}  // namespace vek
