// The Win32 serial port on a real line: the transmitter simulator on the far end of COMn.
// scripts/windows --test starts the simulator, points wine's COM port at its pseudo-terminal
// and runs this with VEK_TEST_COM=<n>; without it every case is skipped. These tests wait
// for the line in real time: they are not unit tests.
#include <gtest/gtest.h>

#include <algorithm>
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

// The process's processor time (user and kernel) so far, in seconds.
double cpuSeconds()
{
    FILETIME created, ended, kernel, user;
    if (!::GetProcessTimes(::GetCurrentProcess(), &created, &ended, &kernel, &user))
        return 0;
    auto seconds = [](const FILETIME& f) {
        return static_cast<double>((static_cast<unsigned long long>(f.dwHighDateTime) << 32) | f.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

// With VEK_TEST_GONE=1 the script ends the simulator while this waits (the adapter pulled
// out: its pseudo-terminal goes, and with it COM1's link), then a few seconds later starts
// another and points COM1 at it (plugged back in, maybe as another device behind the same
// name). The port reports the device gone; the openings meanwhile fail with the port's name;
// a later opening finds the device again and carries a poll. Looking as the link engine
// does (the queue every 20 ms, an opening per poll) spends next to no processor time: no
// call spins on a device that is not there.
TEST_F(SimulatorLine, AnAdapterPulledOutAndPluggedBackIn)
{
    const char* v = std::getenv("VEK_TEST_GONE");
    if (!v || std::string(v) != "1")
        GTEST_SKIP() << "VEK_TEST_GONE is not set";
    ASSERT_EQ(com.ComWrt(port, kPoll.data(), static_cast<int>(kPoll.size())), static_cast<int>(kPoll.size()));
    ASSERT_EQ(waitFor(kReplyLength, 1.5), kReplyLength);
    std::uint8_t b[kReplyLength];
    ASSERT_EQ(com.ComRd(port, b, kReplyLength), kReplyLength);

    const auto wallStart = Clock::now();
    const double cpuStart = cpuSeconds();
    int n = 0;
    auto end = Clock::now() + std::chrono::seconds(10);
    while ((n = com.GetInQLen(port)) >= 0 && Clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(n, RS_ERR_DEVICE_GONE) << com.GetRS232ErrorString(n);
    const std::string why = com.GetRS232ErrorString(RS_ERR_DEVICE_GONE);
    EXPECT_EQ(why.rfind("Serial device disconnected: " + ResolveComPort(port), 0), 0u) << why;
    // A read of the gone device ends at once or at its time-out, never later.
    ASSERT_EQ(com.SetComTime(port, 0.3), 0);
    auto t0 = Clock::now();
    EXPECT_LT(com.ComRd(port, b, 10), 10);
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - t0).count(), 1.0);

    // Unplugged: every opening fails, names the port and leaves it closed, until the device
    // is back.
    int refused = 0;
    int rc = -1;
    end = Clock::now() + std::chrono::seconds(30);
    while (Clock::now() < end) {
        rc = com.OpenComConfig(port, "", 9600, RS_PARITY_NONE, 8, 1, 512, 512);
        if (rc == 0)
            break;
        ++refused;
        EXPECT_EQ(rc, RS_ERR_CANNOT_OPEN);
        EXPECT_NE(com.GetRS232ErrorString(rc).find(ResolveComPort(port)), std::string::npos)
            << com.GetRS232ErrorString(rc);
        EXPECT_EQ(com.DevicePath(port), "");
        EXPECT_EQ(com.GetInQLen(port), RS_ERR_NOT_OPEN);
        for (int i = 0; i < 25; ++i) {  // half a second of the engine's looks in between
            com.GetInQLen(port);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    const double wall = std::chrono::duration<double>(Clock::now() - wallStart).count();
    const double cpu = cpuSeconds() - cpuStart;
    EXPECT_GE(refused, 1) << "the port opened again before it was seen unplugged";
    ASSERT_EQ(rc, 0) << "not found again within 30 s: " << com.GetRS232ErrorString(rc);
    EXPECT_LT(cpu, 0.2 * wall) << cpu << " s of processor time in " << wall << " s";

    // Plugged back in: the same port carries a poll again.
    ASSERT_EQ(com.SetComTime(port, 1.0), 0);
    EXPECT_EQ(com.DevicePath(port), ResolveComPort(port));
    ASSERT_EQ(com.ComWrt(port, kPoll.data(), static_cast<int>(kPoll.size())), static_cast<int>(kPoll.size()));
    EXPECT_EQ(waitFor(kReplyLength, 1.5), kReplyLength);
}

// The ports Windows lists: VEK_TEST_COM's is there (wine's COM1, made from its Ports registry
// key with its dosdevices link when wine started), VEK_TEST_ABSENT_COM's is not (no key, no
// link). The system's own list of serial ports (HARDWARE\DEVICEMAP\SERIALCOMM) says the
// same. Looking at the list opens nothing: a reply waiting on the open port stays whole.
std::vector<std::wstring> serialCommPorts()
{
    std::vector<std::wstring> out;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return out;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        wchar_t data[256] = {};
        DWORD nameLength = 256, dataSize = sizeof data - sizeof(wchar_t), type = 0;
        if (::RegEnumValueW(key, i, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataSize) !=
            ERROR_SUCCESS)
            break;
        if (type == REG_SZ)
            out.emplace_back(data);
    }
    ::RegCloseKey(key);
    return out;
}

TEST_F(SimulatorLine, ThePortsPresentAreTheOnesTheSystemLists)
{
    const char* v = std::getenv("VEK_TEST_ABSENT_COM");
    const int absent = v && *v ? std::atoi(v) : 0;
    if (absent < 1)
        GTEST_SKIP() << "VEK_TEST_ABSENT_COM is not set";
    const auto listed = serialCommPorts();
    auto inSerialComm = [&](int n) {
        return std::find(listed.begin(), listed.end(), L"COM" + std::to_wstring(n)) != listed.end();
    };
    EXPECT_TRUE(ComPortPresent(port));
    EXPECT_TRUE(inSerialComm(port));
    EXPECT_TRUE(DeviceExists("\\\\.\\COM" + std::to_string(port)));
    EXPECT_FALSE(ComPortPresent(absent));
    EXPECT_FALSE(inSerialComm(absent));

    ASSERT_EQ(com.ComWrt(port, kPoll.data(), static_cast<int>(kPoll.size())), static_cast<int>(kPoll.size()));
    ASSERT_EQ(waitFor(kReplyLength, 1.5), kReplyLength);
    int present = 0;
    for (int n = 1; n <= 99; ++n)
        present += ComPortPresent(n);
    EXPECT_GE(present, 1);
    EXPECT_EQ(com.GetInQLen(port), kReplyLength);
    Bytes reply(kReplyLength);
    EXPECT_EQ(com.ComRd(port, reply.data(), kReplyLength), kReplyLength);
    EXPECT_EQ(reply[0], 0x01);
}

TEST_F(SimulatorLine, ComWrtByteSendsOneByte)
{
    // A broken request, byte by byte: the slave keeps quiet (no CRC), the byte count is right.
    for (std::uint8_t b : {0x01, 0x03, 0x00})
        EXPECT_EQ(com.ComWrtByte(port, b), b);
    EXPECT_EQ(waitFor(1, 0.5), 0);
}

}  // namespace
