// Line timing, framing by silence, the slave's answers and the register image's layout.
#include <gtest/gtest.h>

#include <bit>
#include <cstring>

#include "frame_assembler.h"
#include "line.h"
#include "ref_crc.h"
#include "register_image.h"
#include "slave.h"

using namespace vek::sim;
using vek::simtest::frameCrcOk;
using vek::simtest::readRequest;
using vek::simtest::withCrc;
using vek::simtest::writeRequest;
using Bytes = std::vector<std::uint8_t>;

namespace {

// The registers a master may write; everything else is read-only.
const std::vector<int> kWritable = {11, 12, 13, 14, 15, 16, 17, 18, 23, 24, 25, 26, 27, 28, 29,
                                    30, 31, 32, 33, 34, 35, 36, 38, 40, 43, 44, 45, 46, 47, 48,
                                    49, 50, 51, 52, 53, 59, 66, 70, 71, 72, 73, 74, 75, 76, 77};

Outcome run(const Bytes& frame, RegisterImage& img, std::uint8_t us = 1, LineSettings line = {})
{
    const Screened s = screen(frame, us);
    EXPECT_EQ(s.reason, Ignored::None) << describe(s.reason);
    return execute(s.request, img, line);
}

// An image where register n holds 0xA0nn-ish values, so any shift or swap shows.
RegisterImage numbered()
{
    RegisterImage img;
    for (int n = 1; n <= kRegisterCount; ++n)
        img.set(n, static_cast<std::uint16_t>(0xA000 | (n << 4) | (n & 0xF)));
    return img;
}

}  // namespace

TEST(SimLine, CharacterAndSilenceTimesFollowBaudAndParity)
{
    struct Case {
        unsigned baud;
        Parity parity;
        Micros ch;
        Micros silence;
    };
    for (const Case c : {Case{9600, Parity::None, 1042, 3646}, Case{9600, Parity::Even, 1146, 4011},
                         Case{19200, Parity::None, 521, 1823}, Case{19200, Parity::Odd, 573, 2006}}) {
        const LineSettings line{c.baud, c.parity};
        EXPECT_EQ(charTimeUs(line), c.ch) << describe(line);
        EXPECT_EQ(silenceUs(line), c.silence) << describe(line);
    }
    // The poll reply at 9600 8N1: 161 characters of 10 bits.
    EXPECT_NEAR(161.0 * 10 / 9600 * 1e6, 161 * charTimeUs({9600, Parity::None}), 161.0);
}

TEST(SimLine, RegisterCodesMapBothWaysAndRejectTheRest)
{
    EXPECT_EQ(baudFromCode(0), 9600u);
    EXPECT_EQ(baudFromCode(1), 19200u);
    EXPECT_FALSE(baudFromCode(2));
    EXPECT_EQ(parityFromCode(0), Parity::None);
    EXPECT_EQ(parityFromCode(1), Parity::Even);
    EXPECT_EQ(parityFromCode(2), Parity::Odd);
    EXPECT_FALSE(parityFromCode(3));
    for (auto p : {Parity::None, Parity::Even, Parity::Odd})
        EXPECT_EQ(parityFromCode(parityCode(p)), p);
    EXPECT_EQ(baudCode(19200), 1);
}

TEST(SimFraming, BytesCloserThanTheSilenceFormOneFrame)
{
    FrameAssembler fa(3646);
    const Bytes a{1, 3, 0, 0}, b{0, 0x4E, 0xC5, 0xFE};
    fa.feed(a.data(), a.size(), 1000);
    fa.feed(b.data(), b.size(), 1000 + 3645);
    EXPECT_FALSE(fa.take(1000 + 3645 + 3645));
    EXPECT_EQ(*fa.deadline(), 1000 + 3645 + 3646);
    const auto f = fa.take(1000 + 3645 + 3646);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->bytes, (Bytes{1, 3, 0, 0, 0, 0x4E, 0xC5, 0xFE}));
    EXPECT_EQ(f->lastByteAt, 1000 + 3645);
    EXPECT_FALSE(fa.deadline());
}

TEST(SimFraming, AFullSilenceSplitsEvenIfNobodyAskedInBetween)
{
    FrameAssembler fa(1823);
    const Bytes a{1, 3, 0, 0}, b{0, 0x4E, 0xC5, 0xFE};
    fa.feed(a.data(), a.size(), 0);
    fa.feed(b.data(), b.size(), 1823);  // the gap is exactly one silence
    const auto first = fa.take(1823);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->bytes, a);
    EXPECT_FALSE(fa.take(1823 + 1822));
    const auto second = fa.take(1823 + 1823);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->bytes, b);
}

TEST(SimFraming, OverlongBurstIsFlaggedAndResetForgetsEverything)
{
    FrameAssembler fa(1000);
    const Bytes big(300, 0x55);
    fa.feed(big.data(), big.size(), 0);
    const auto f = fa.take(1000);
    ASSERT_TRUE(f);
    EXPECT_TRUE(f->overflow);
    fa.feed(big.data(), 10, 5000);
    fa.reset();
    EXPECT_FALSE(fa.deadline());
    EXPECT_FALSE(fa.take(100000));
}

TEST(SimSlave, ScreeningIgnoresWhatASlaveMustNotAnswer)
{
    const Bytes poll = readRequest(1, 0, 78);
    EXPECT_EQ(screen(poll, 1).reason, Ignored::None);
    EXPECT_EQ(screen(poll, 2).reason, Ignored::OtherSlave);
    Bytes bad = poll;
    bad[3] ^= 0x01;
    EXPECT_EQ(screen(bad, 1).reason, Ignored::BadCrc);
    bad = poll;
    bad.back() ^= 0x80;
    EXPECT_EQ(screen(bad, 1).reason, Ignored::BadCrc);
    EXPECT_EQ(screen(Bytes{1, 3, 0x40}, 1).reason, Ignored::TooShort);
    EXPECT_EQ(screen(Bytes(257, 0), 1).reason, Ignored::TooLong);
    EXPECT_EQ(screen(readRequest(0, 0, 1), 9).reason, Ignored::None);  // broadcast reaches everyone
}

TEST(SimSlave, PollReturns161BytesWithEveryRegisterInItsPlace)
{
    // The poll exactly as the master sends it.
    const Bytes poll{0x01, 0x03, 0x00, 0x00, 0x00, 0x4E, 0xC5, 0xFE};
    RegisterImage img = numbered();
    const Outcome out = run(poll, img);
    ASSERT_EQ(out.reply.size(), 161u);
    EXPECT_EQ(out.reply[0], 0x01);
    EXPECT_EQ(out.reply[1], 0x03);
    EXPECT_EQ(out.reply[2], 156);
    EXPECT_TRUE(frameCrcOk(out.reply));
    for (int n = 1; n <= kRegisterCount; ++n) {
        EXPECT_EQ(vek::simtest::replyRegister(out.reply, n), img.get(n)) << "register " << n;
    }
    // Register 1 is wire address 0: high byte at offset 3.
    EXPECT_EQ(out.reply[3], 0xA0);
    EXPECT_EQ(out.reply[4], 0x11);
}

TEST(SimSlave, ReadAnywhereInsideTheImageAndExceptionsOutside)
{
    RegisterImage img = numbered();
    Outcome out = run(readRequest(1, 77, 1), img);  // register 78, the last one
    ASSERT_EQ(out.reply.size(), 7u);
    EXPECT_EQ((out.reply[3] << 8) | out.reply[4], img.get(78));

    struct Case {
        int start;
        int count;
        std::uint8_t code;
    };
    for (const Case c :
         {Case{77, 2, 2}, Case{78, 1, 2}, Case{0, 79, 2}, Case{0, 0, 3}, Case{0, 126, 3}, Case{0xFFFF, 1, 2}}) {
        out = run(readRequest(1, c.start, c.count), img);
        ASSERT_TRUE(out.exception) << c.start << "+" << c.count;
        EXPECT_EQ(*out.exception, c.code) << c.start << "+" << c.count;
        EXPECT_EQ(out.reply, withCrc({1, 0x83, c.code}));
    }
    // The well-known frame of an exception 02 to a read from slave 1.
    out = run(readRequest(1, 100, 1), img);
    EXPECT_EQ(out.reply, (Bytes{0x01, 0x83, 0x02, 0xC0, 0xF1}));
}

TEST(SimSlave, WriteSingleEchoesTheRequestAndLandsInTheNumberedRegister)
{
    RegisterImage img = RegisterImage::defaults();
    const Bytes req{0x01, 0x06, 0x00, 0x0B, 0x01, 0xF4, 0xF8, 0x1F};  // register 12 := 500
    const Outcome out = run(req, img);
    EXPECT_EQ(out.reply, req);
    EXPECT_EQ(img.get(12), 500);
    EXPECT_EQ(img.get(11), 4800);  // neighbours untouched
    EXPECT_EQ(img.get(13), 819);
    ASSERT_EQ(out.writes.size(), 1u);
    EXPECT_EQ(out.writes[0].number, 12);
    EXPECT_EQ(out.writes[0].before, 300);
    EXPECT_EQ(out.writes[0].after, 500);
    EXPECT_FALSE(out.newAddress);
    EXPECT_FALSE(out.newLine);
}

TEST(SimSlave, ExactlyTheSetUpRegistersAreWritable)
{
    for (int n = 1; n <= kRegisterCount + 1; ++n) {
        RegisterImage img = numbered();
        const bool writable = std::find(kWritable.begin(), kWritable.end(), n) != kWritable.end();
        EXPECT_EQ(isWritable(n), writable) << n;
        // Values every register accepts, including UID, parity and baud.
        const Outcome out = run(writeRequest(1, n, 1), img);
        if (writable) {
            EXPECT_FALSE(out.exception) << "register " << n;
            EXPECT_EQ(img.get(n), 1) << "register " << n;
        } else {
            ASSERT_TRUE(out.exception) << "register " << n;
            EXPECT_EQ(*out.exception, exc::kIllegalAddress) << "register " << n;
            if (n <= kRegisterCount) {
                EXPECT_EQ(img.get(n), numbered().get(n)) << "register " << n;
            }
        }
    }
}

TEST(SimSlave, WriteMultipleAppliesAllOrNothing)
{
    RegisterImage img = RegisterImage::defaults();
    // Registers 12 and 13 := 10 and 258, the master's own example frame.
    const Bytes req{0x01, 0x10, 0x00, 0x0B, 0x00, 0x02, 0x04, 0x00, 0x0A, 0x01, 0x02, 0x12, 0x4F};
    Outcome out = run(req, img);
    EXPECT_EQ(out.reply, withCrc({0x01, 0x10, 0x00, 0x0B, 0x00, 0x02}));
    EXPECT_EQ(img.get(12), 10);
    EXPECT_EQ(img.get(13), 258);
    EXPECT_EQ(out.writes.size(), 2u);

    // 18 is writable, 19 (V0) is not: nothing may change.
    const std::uint16_t z = img.get(18);
    out = run(withCrc({1, 0x10, 0, 17, 0, 2, 4, 0x12, 0x34, 0x56, 0x78}), img);
    ASSERT_TRUE(out.exception);
    EXPECT_EQ(*out.exception, exc::kIllegalAddress);
    EXPECT_EQ(img.get(18), z);
    EXPECT_TRUE(out.writes.empty());

    // A count that disagrees with the byte count, or a frame cut short, is a bad value.
    out = run(withCrc({1, 0x10, 0, 11, 0, 2, 2, 0, 1}), img);
    EXPECT_EQ(out.exception, exc::kIllegalValue);
    out = run(withCrc({1, 0x10, 0, 11, 0, 2, 4, 0, 1}), img);
    EXPECT_EQ(out.exception, exc::kIllegalValue);
    // 124 registers cannot even be framed (257 bytes); the count alone is refused.
    out = run(withCrc({1, 0x10, 0, 10, 0, 124, 248, 0, 1}), img);
    EXPECT_EQ(out.exception, exc::kIllegalValue);
    out = run(withCrc({1, 0x10, 0, 10, 0, 0, 0}), img);
    EXPECT_EQ(out.exception, exc::kIllegalValue);
}

TEST(SimSlave, UnsupportedFunctionsGetIllegalFunction)
{
    RegisterImage img = RegisterImage::defaults();
    for (std::uint8_t fn : {0x01, 0x02, 0x04, 0x05, 0x0F, 0x17, 0x2B, 0x7F}) {
        const Outcome out = run(withCrc({1, fn, 0, 0, 0, 1}), img);
        EXPECT_EQ(out.exception, exc::kIllegalFunction) << int(fn);
        EXPECT_EQ(out.reply, withCrc({1, static_cast<std::uint8_t>(fn | 0x80), 1})) << int(fn);
    }
    // Right function, wrong length: a malformed request, not a missing function.
    EXPECT_EQ(run(withCrc({1, 3, 0, 0, 0, 1, 0}), img).exception, exc::kIllegalValue);
    EXPECT_EQ(run(withCrc({1, 6, 0, 11, 0}), img).exception, exc::kIllegalValue);
}

TEST(SimSlave, AddressAndLineWritesAreValidatedAndDeferred)
{
    RegisterImage img = RegisterImage::defaults();
    for (std::uint16_t bad : {0, 248, 255, 256}) {
        const Outcome out = run(writeRequest(1, 25, bad), img);
        EXPECT_EQ(out.exception, exc::kIllegalValue) << bad;
        EXPECT_EQ(img.get(25), 1);
    }
    EXPECT_EQ(run(writeRequest(1, 74, 3), img).exception, exc::kIllegalValue);
    EXPECT_EQ(run(writeRequest(1, 75, 2), img).exception, exc::kIllegalValue);

    Outcome out = run(writeRequest(1, 25, 7), img);
    EXPECT_EQ(out.newAddress, 7);
    EXPECT_EQ(out.reply[0], 1) << "the echo still comes from the old address";
    out = run(writeRequest(1, 75, 1), img, 1, LineSettings{9600, Parity::Even});
    ASSERT_TRUE(out.newLine);
    EXPECT_EQ(*out.newLine, (LineSettings{19200, Parity::Even}));
    out = run(writeRequest(1, 74, 2), img, 1, LineSettings{19200, Parity::None});
    EXPECT_EQ(*out.newLine, (LineSettings{19200, Parity::Odd}));
}

TEST(SimSlave, BroadcastWritesApplyWithoutReplyAndBroadcastReadsDoNothing)
{
    RegisterImage img = RegisterImage::defaults();
    Outcome out = run(writeRequest(0, 16, 42), img, 5);
    EXPECT_TRUE(out.reply.empty());
    EXPECT_EQ(img.get(16), 42);
    out = run(writeRequest(0, 1, 42), img, 5);  // refused, and still nobody answers
    EXPECT_TRUE(out.reply.empty());
    EXPECT_EQ(out.exception, exc::kIllegalAddress);
    out = run(readRequest(0, 0, 78), img, 5);
    EXPECT_TRUE(out.reply.empty());
    EXPECT_FALSE(out.exception);
}

TEST(SimImage, FloatsSitLowWordFirst)
{
    RegisterImage img;
    img.setFloat(3, 100.0f);
    EXPECT_EQ(img.get(3), 0x0000);
    EXPECT_EQ(img.get(4), 0x42C8);
    img.set(19, 0x0000);
    img.set(20, 0x3F80);
    EXPECT_EQ(img.getFloat(19), 1.0f);
    img.setFloat(7, 12.345f);
    EXPECT_EQ(img.get(7), std::bit_cast<std::uint32_t>(12.345f) & 0xFFFF);
    EXPECT_EQ(img.get(8), std::bit_cast<std::uint32_t>(12.345f) >> 16);
}

TEST(SimImage, FactoryImageIsAPlausibleFiveMetreGauge)
{
    const RegisterImage img = RegisterImage::defaults();
    EXPECT_EQ(img.get(68), 17);
    EXPECT_EQ(img.get(25), 1);
    EXPECT_EQ(img.get(74), 0);
    EXPECT_EQ(img.get(75), 0);
    EXPECT_GT(img.get(11), img.get(12));
    EXPECT_GT(img.get(12), img.get(15)) << "20 mA must lie outside the blind distance";
    EXPECT_LE(img.get(11), 5000);
    EXPECT_NEAR(img.getFloat(19), 0.3313f, 1e-6);
    // Configuration index: one character per register, in the low byte.
    const char* expected = "G5M-A001";
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(img.get(29 + i), static_cast<std::uint16_t>(expected[i])) << 29 + i;
    RegisterImage short_;
    short_.setConfigIndex("AB");
    EXPECT_EQ(short_.get(29), 0x0041);
    EXPECT_EQ(short_.get(30), 0x0042);
    EXPECT_EQ(short_.get(31), 0x0000);
}
