// CRC and request frames against vectors that come from outside this code: the published
// CRC-16/MODBUS check value, frames from the Modbus application protocol examples, and
// the worked frames of our own protocol notes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "mb_crc.h"
#include "mb_functions.h"
#include "reference_crc.h"

using namespace vek;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes frame(const LinkState& s, std::size_t n) { return Bytes(s.SndFrame, s.SndFrame + n); }

}  // namespace

TEST(Crc, KnownCheckValuesAndEmptyInput)
{
    const char* digits = "123456789";
    EXPECT_EQ(usMBCRC16(reinterpret_cast<const std::uint8_t*>(digits), 9), 0x4B37);
    EXPECT_EQ(usMBCRC16(nullptr, 0), 0xFFFF);
    // Read Holding Registers example of the protocol's own documentation: slave 0x11,
    // start 0x006B, three registers, CRC 76 87 on the wire (low byte first).
    const Bytes req = {0x11, 0x03, 0x00, 0x6B, 0x00, 0x03};
    EXPECT_EQ(usMBCRC16(req.data(), req.size()), 0x8776);
}

TEST(Crc, TablesMatchThePolynomialEntryForEntry)
{
    EXPECT_EQ((Bytes{ucCRCTableLo, ucCRCTableLo + 8}), (Bytes{0x00, 0xC1, 0x81, 0x40, 0x01, 0xC0, 0x80, 0x41}));
    EXPECT_EQ((Bytes{ucCRCTableHi, ucCRCTableHi + 8}), (Bytes{0x00, 0xC0, 0xC1, 0x01, 0xC3, 0x03, 0x02, 0xC2}));
    for (unsigned k = 0; k < 256; ++k) {
        std::uint16_t t = static_cast<std::uint16_t>(k);
        for (int i = 0; i < 8; ++i)
            t = (t & 1) ? static_cast<std::uint16_t>((t >> 1) ^ 0xA001) : static_cast<std::uint16_t>(t >> 1);
        ASSERT_EQ(ucCRCTableLo[k], t & 0xFF) << k;
        ASSERT_EQ(ucCRCTableHi[k], t >> 8) << k;
    }
}

TEST(Crc, AgreesWithBitwiseCrcOnEveryLengthAndAFrameChecksItself)
{
    Bytes data(300);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i * 37 + 11);
    for (std::size_t n = 0; n <= data.size(); n += 7)
        ASSERT_EQ(usMBCRC16(data.data(), n), test::referenceCrc(data.data(), n)) << n;
    // A frame sealed low byte first carries its own CRC check.
    Bytes f = {0x01, 0x03, 0x9C, 0x00, 0x01, 0x02, 0xAA, 0x55};
    const std::uint16_t crc = usMBCRC16(f.data(), f.size());
    f.push_back(crc & 0xFF);
    f.push_back(crc >> 8);
    EXPECT_EQ(f[f.size() - 2], usMBCRC16(f.data(), f.size() - 2) & 0xFF);
    EXPECT_EQ(f[f.size() - 1], usMBCRC16(f.data(), f.size() - 2) >> 8);
}

TEST(Frames, WorkedFramesByteForByte)
{
    LinkState s;
    eMBReadHoldingRegisters(s, 1, 3, 0, 78);
    EXPECT_EQ(frame(s, 8), (Bytes{0x01, 0x03, 0x00, 0x00, 0x00, 0x4E, 0xC5, 0xFE}));
    eMBWriteSingleRegister(s, 1, 6, 12, 500);
    EXPECT_EQ(frame(s, 8), (Bytes{0x01, 0x06, 0x00, 0x0B, 0x01, 0xF4, 0xF8, 0x1F}));
    eMBWriteSingleCoil(s, 1, 5, 10, 1);
    EXPECT_EQ(frame(s, 8), (Bytes{0x01, 0x05, 0x00, 0x0A, 0xFF, 0x00, 0xAC, 0x38}));
    const std::uint32_t values[] = {10, 258};
    s.usCoilRegAddress = 12;
    ASSERT_EQ(eMBWriteMultipleRegisters(s, 1, 2, values), s.SndFrame);
    EXPECT_EQ(frame(s, 13), (Bytes{0x01, 0x10, 0x00, 0x0B, 0x00, 0x02, 0x04, 0x00, 0x0A, 0x01, 0x02, 0x12, 0x4F}));
    // The protocol documentation's own example request.
    eMBReadHoldingRegisters(s, 0x11, 3, 0x6B, 3);
    EXPECT_EQ(frame(s, 8), (Bytes{0x11, 0x03, 0x00, 0x6B, 0x00, 0x03, 0x76, 0x87}));
}

TEST(Frames, FieldEdgesAreCutOrWrappedNotRejected)
{
    LinkState s;
    eMBWriteSingleRegister(s, 1, 6, 0, 7);  // register 0 has no wire address: it wraps
    EXPECT_EQ(s.SndFrame[2], 0xFF);
    EXPECT_EQ(s.SndFrame[3], 0xFF);
    eMBWriteSingleRegister(s, 1, 6, 1, 0x12345);  // register 1 is wire address 0; value cut to 16 bits
    EXPECT_EQ(frame(s, 6), (Bytes{0x01, 0x06, 0x00, 0x00, 0x23, 0x45}));
    for (std::uint16_t v : {std::uint16_t{1}, std::uint16_t{0x100}, std::uint16_t{0xFFFF}}) {
        eMBWriteSingleCoil(s, 1, 5, 10, v);
        EXPECT_EQ(s.SndFrame[4], 0xFF) << v;
        EXPECT_EQ(s.SndFrame[5], 0x00) << v;
    }
    eMBWriteSingleCoil(s, 1, 5, 10, 0);
    EXPECT_EQ(s.SndFrame[4], 0x00);
    eMBReadCoils(s, 1, 0x101, 0x12345, 0x10010);  // function, start and quantity cut
    EXPECT_EQ(frame(s, 6), (Bytes{0x01, 0x01, 0x23, 0x45, 0x00, 0x10}));
    EXPECT_EQ(usMBCRC16(s.SndFrame, 6), s.SndFrame[6] | s.SndFrame[7] << 8);
}

TEST(Frames, WriteMultipleFitsTheBufferOrBuildsNothing)
{
    LinkState s;
    std::vector<std::uint32_t> values(124, 0xABCD);
    s.usCoilRegAddress = 1;
    ASSERT_NE(eMBWriteMultipleRegisters(s, 1, 123, values.data()), nullptr);
    EXPECT_EQ(s.SndFrame[6], 246);
    EXPECT_EQ(usMBCRC16(s.SndFrame, 253), s.SndFrame[253] | s.SndFrame[254] << 8);  // 255 bytes in all
    std::memset(s.SndFrame, 0x5A, sizeof s.SndFrame);
    EXPECT_EQ(eMBWriteMultipleRegisters(s, 1, 124, values.data()), nullptr);
    EXPECT_EQ(eMBWriteMultipleRegisters(s, 1, 2, nullptr), nullptr);
    EXPECT_EQ(s.SndFrame[0], 0x5A) << "a refused request must leave the frame buffer alone";
}

TEST(Frames, BytesBehindAShortFrameKeepWhatALongerOneLeft)
{
    LinkState s;
    const std::uint32_t values[] = {1, 2, 3};
    s.usCoilRegAddress = 5;
    eMBWriteMultipleRegisters(s, 1, 3, values);  // 15 bytes
    const Bytes tail(s.SndFrame + 8, s.SndFrame + 15);
    eMBReadHoldingRegisters(s, 1, 3, 0, 78);
    EXPECT_EQ(Bytes(s.SndFrame + 8, s.SndFrame + 15), tail);
}
