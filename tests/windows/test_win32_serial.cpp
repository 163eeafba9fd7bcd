// The Win32 serial port on a real line: the transmitter simulator on the far end of COMn.
// scripts/windows --test starts the simulator, points wine's COM port at its pseudo-terminal
// and runs this with VEK_TEST_COM=<n>; without it every case is skipped. These tests wait
// for the line in real time: they are not unit tests.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "mb_crc.h"
#include "win32_rs232.h"

using namespace vek::platform;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

namespace {

// The poll of registers 1 to 78 of slave 1 and the length of its reply.
const Bytes kPoll = {0x01, 0x03, 0x00, 0x00, 0x00, 0x4E, 0xC5, 0xFE};
constexpr int kReplyLength = 5 + 2 * 78;

int testPort()
{
    const char* v = std::getenv("VEK_TEST_COM");
    return v && *v ? std::atoi(v) : 0;
}

class SimulatorLine : public ::testing::Test {
protected:
    void SetUp() override
    {
        port = testPort();
        if (port < 1)
            GTEST_SKIP() << "VEK_TEST_COM names no port with the simulator behind it";
        ASSERT_EQ(com.OpenComConfig(port, "", 9600, RS_PARITY_NONE, 8, 1, 512, 512), 0)
            << com.GetRS232ErrorString(com.ReturnRS232Err());
        ASSERT_EQ(com.SetComTime(port, 1.0), 0);
    }

    // Waits, looking every 20 ms as the link engine's timer does, until `want` bytes wait or
    // `seconds` have passed; what waited at the end.
    int waitFor(int want, double seconds)
    {
        const auto end = Clock::now() + std::chrono::duration<double>(seconds);
        int n = com.GetInQLen(port);
        while (n >= 0 && n < want && Clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            n = com.GetInQLen(port);
        }
        return n;
    }

    int port = 0;
    Win32Rs232 com;
};

TEST_F(SimulatorLine, ThePollGoesOutWholeAndTheReplyIsReadWhole)
{
    ASSERT_EQ(com.ComWrt(port, kPoll.data(), static_cast<int>(kPoll.size())), static_cast<int>(kPoll.size()));
    ASSERT_EQ(waitFor(kReplyLength, 1.5), kReplyLength);
    // Nothing more comes after a whole reply.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(com.GetInQLen(port), kReplyLength);

    // A look ahead takes nothing away.
    std::uint8_t head[3] = {};
    EXPECT_EQ(com.ComPeek(port, head, 3), 3);
    EXPECT_EQ(head[0], 0x01);
    EXPECT_EQ(head[1], 0x03);
    EXPECT_EQ(head[2], 2 * 78);
    EXPECT_EQ(com.GetInQLen(port), kReplyLength);

    Bytes reply(kReplyLength);
    EXPECT_EQ(com.ComRd(port, reply.data(), kReplyLength), kReplyLength);
    EXPECT_EQ(com.ReturnRS232Err(), 0);
    EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 3), Bytes({0x01, 0x03, 2 * 78}));
    // The CRC goes low byte first.
    const std::uint16_t crc = vek::usMBCRC16(reply.data(), kReplyLength - 2);
    EXPECT_EQ(reply[kReplyLength - 2], crc & 0xFF);
    EXPECT_EQ(reply[kReplyLength - 1], crc >> 8);
    EXPECT_EQ(com.GetInQLen(port), 0);
}

TEST_F(SimulatorLine, AReadOfMoreThanWaitsEndsAtTheTimeOutWithWhatCame)
{
    ASSERT_EQ(com.SetComTime(port, 0.3), 0);
    std::uint8_t b[10] = {};
    const auto t0 = Clock::now();
    EXPECT_EQ(com.ComRd(port, b, 10), 0);
    const double took = std::chrono::duration<double>(Clock::now() - t0).count();
    EXPECT_EQ(com.ReturnRS232Err(), RS_ERR_TIMEOUT);
    EXPECT_NE(com.GetRS232ErrorString(RS_ERR_TIMEOUT).find("(0 of 10 bytes)"), std::string::npos);
    EXPECT_GE(took, 0.25);
    EXPECT_LT(took, 1.5);

    // A whole reply and then more asked than came: the reply, then the time-out.
    ASSERT_EQ(com.ComWrt(port, kPoll.data(), static_cast<int>(kPoll.size())), static_cast<int>(kPoll.size()));
    ASSERT_EQ(waitFor(kReplyLength, 1.5), kReplyLength);
    std::uint8_t ahead[2] = {};
    ASSERT_EQ(com.ComPeek(port, ahead, 2), 2);
    Bytes more(kReplyLength + 4);
    EXPECT_EQ(com.ComRd(port, more.data(), kReplyLength + 4), kReplyLength);
    EXPECT_EQ(com.ReturnRS232Err(), RS_ERR_TIMEOUT);
    EXPECT_EQ(more[0], 0x01);
    EXPECT_EQ(more[1], 0x03);
}

TEST_F(SimulatorLine, ReopeningDiscardsALateReply)
{
    ASSERT_EQ(com.ComWrt(port, kPoll.data(), static_cast<int>(kPoll.size())), static_cast<int>(kPoll.size()));
    ASSERT_EQ(waitFor(kReplyLength, 1.5), kReplyLength);
    std::uint8_t ahead[4] = {};
    ASSERT_EQ(com.ComPeek(port, ahead, 4), 4);  // taken into the read-ahead: dropped too
    ASSERT_EQ(com.OpenComConfig(port, "", 9600, RS_PARITY_NONE, 8, 1, 512, 512), 0);
    EXPECT_EQ(com.GetInQLen(port), 0);
    EXPECT_EQ(com.DevicePath(port), ResolveComPort(port));
}

TEST_F(SimulatorLine, AClaimKeepsThePortAndItsUse)
{
    EXPECT_EQ(com.ClaimCom(port), 0);
    EXPECT_EQ(com.ClaimCom(port), 0);
    // Claimed, the port still carries a poll.
    ASSERT_EQ(com.ComWrt(port, kPoll.data(), static_cast<int>(kPoll.size())), static_cast<int>(kPoll.size()));
    EXPECT_EQ(waitFor(kReplyLength, 1.5), kReplyLength);
    EXPECT_EQ(com.ReleaseCom(port), 0);
    EXPECT_EQ(com.ReleaseCom(port), 0);
    EXPECT_EQ(com.GetInQLen(port), 0);  // the release drops what the visit left
    EXPECT_EQ(com.DevicePath(port), ResolveComPort(port));
    EXPECT_EQ(com.CloseCom(port), 0);
    EXPECT_EQ(com.DevicePath(port), "");
    EXPECT_EQ(com.CloseCom(port), RS_ERR_NOT_OPEN);
}

bool underWine()
{
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version");
}

TEST_F(SimulatorLine, ASecondOpenIsRefusedAsBusy)
{
    // Windows keeps a communications device to the one handle that opened it; wine does not
    // (a second CreateFileW on the same device succeeds), so this holds on Windows only.
    if (underWine())
        GTEST_SKIP() << "wine lets a second handle open a serial device";
    Win32Rs232 other;
    EXPECT_EQ(other.ClaimCom(port), RS_ERR_BUSY);
    EXPECT_EQ(other.OpenComConfig(port, "", 9600, RS_PARITY_NONE, 8, 1, 512, 512), RS_ERR_CANNOT_OPEN);
    EXPECT_EQ(other.DevicePath(port), "");
}

// With VEK_TEST_GONE=1 the script ends the simulator while this waits: the port reports the
// device gone within the wait, and an open of the vanished device fails with its name.
TEST_F(SimulatorLine, TheFarEndGoesAway)
{
    const char* v = std::getenv("VEK_TEST_GONE");
    if (!v || std::string(v) != "1")
        GTEST_SKIP() << "VEK_TEST_GONE is not set";
    ASSERT_EQ(com.ComWrt(port, kPoll.data(), static_cast<int>(kPoll.size())), static_cast<int>(kPoll.size()));
    ASSERT_EQ(waitFor(kReplyLength, 1.5), kReplyLength);
    std::uint8_t b[kReplyLength];
    ASSERT_EQ(com.ComRd(port, b, kReplyLength), kReplyLength);
    // Looking every 20 ms, as the link engine does, for at most 10 s.
    int n = 0;
    const auto end = Clock::now() + std::chrono::seconds(10);
    while ((n = com.GetInQLen(port)) >= 0 && Clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(n, RS_ERR_DEVICE_GONE) << com.GetRS232ErrorString(n);
    const std::string why = com.GetRS232ErrorString(RS_ERR_DEVICE_GONE);
    EXPECT_EQ(why.rfind("Serial device disconnected: " + ResolveComPort(port), 0), 0u) << why;
    // The next open drops the dead handle and tries the device afresh: it is not there.
    EXPECT_EQ(com.OpenComConfig(port, "", 9600, RS_PARITY_NONE, 8, 1, 512, 512), RS_ERR_CANNOT_OPEN);
    EXPECT_EQ(com.DevicePath(port), "");
}

TEST_F(SimulatorLine, ComWrtByteSendsOneByte)
{
    // A broken request, byte by byte: the slave keeps quiet (no CRC), the byte count is right.
    for (std::uint8_t b : {0x01, 0x03, 0x00})
        EXPECT_EQ(com.ComWrtByte(port, b), b);
    EXPECT_EQ(waitFor(1, 0.5), 0);
}

}  // namespace
