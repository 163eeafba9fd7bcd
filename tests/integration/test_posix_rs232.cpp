// The termios port against a real pseudo-terminal pair: the bytes that leave, the queue
// length, reading a reply whole, a device that goes away and comes back, and a COM number
// that comes to name another device.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include "mb_rtu_master.h"
#include "posix_rs232.h"
#include "rig.h"

using namespace vek;
using namespace vek::platform;
using Bytes = std::vector<std::uint8_t>;

namespace {

// The far end of the line: the pty master, with the slave's path behind a symlink so the
// device can vanish and come back at the same name.
struct FarEnd {
    int fd = -1;
    std::string slave;
    explicit FarEnd(const std::string& link)
    {
        fd = ::posix_openpt(O_RDWR | O_NOCTTY);
        EXPECT_GE(fd, 0);
        ::grantpt(fd);
        ::unlockpt(fd);
        slave = ::ptsname(fd);
        termios t{};
        ::tcgetattr(fd, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(fd, TCSANOW, &t);
        std::filesystem::remove(link);
        std::filesystem::create_symlink(slave, link);
    }
    ~FarEnd() { close(); }
    void close()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    Bytes readExactly(std::size_t n, int timeoutMs = 2000)
    {
        Bytes out;
        while (out.size() < n) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, timeoutMs) <= 0)
                break;
            std::uint8_t buf[512];
            const ssize_t r = ::read(fd, buf, std::min(sizeof buf, n - out.size()));
            if (r <= 0)
                break;
            out.insert(out.end(), buf, buf + r);
        }
        return out;
    }
    void send(const Bytes& b) { ASSERT_EQ(::write(fd, b.data(), b.size()), static_cast<ssize_t>(b.size())); }
};

struct PtyTest : ::testing::Test {
    std::string link;
    void SetUp() override
    {
        link = (std::filesystem::temp_directory_path() / ("vek-tty-" + std::to_string(::getpid()))).string();
        ::setenv("VEK_COM4", link.c_str(), 1);
    }
    void TearDown() override
    {
        ::unsetenv("VEK_COM4");
        std::filesystem::remove(link);
    }
    // Waits (really: this is a serial line) until `n` bytes are queued on the port.
    static int waitQueued(PosixRs232& port, int n)
    {
        int q = 0;
        for (int i = 0; i < 200 && (q = port.GetInQLen(4)) < n; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return q;
    }
};

// COM1 behind two names, as an adapter and the onboard port it falls back to.
struct ReplugTest : ::testing::Test {
    std::string first, second;
    void SetUp() override
    {
        const auto tmp = std::filesystem::temp_directory_path();
        first = (tmp / ("vek-com1-a-" + std::to_string(::getpid()))).string();
        second = (tmp / ("vek-com1-b-" + std::to_string(::getpid()))).string();
        ::setenv("VEK_COM1", first.c_str(), 1);
    }
    void TearDown() override
    {
        ::unsetenv("VEK_COM1");
        std::filesystem::remove(first);
        std::filesystem::remove(second);
    }
    int open(PosixRs232& port) { return port.OpenComConfig(1, "", 9600, RS_PARITY_NONE, 8, 1, 512, -1); }
};

// True once the port has let go of the far end's device (its last descriptor closed).
bool released(const FarEnd& far)
{
    pollfd p{far.fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLHUP);
}

}  // namespace

TEST(ComPorts, ResolveByEnvironmentThenUsbThenOnboard)
{
    ::setenv("VEK_COM7", "/tmp/my-adapter", 1);
    EXPECT_EQ(ResolveComPort(7), "/tmp/my-adapter");
    ::unsetenv("VEK_COM7");
    const std::string usb = "/dev/ttyUSB6";
    EXPECT_EQ(ResolveComPort(7), std::filesystem::exists(usb) ? usb : "/dev/ttyS6");
    EXPECT_EQ(ResolveComPort(0), "");
    EXPECT_EQ(ResolveComPort(100), "");
}

TEST_F(PtyTest, PollAndWriteFramesLeaveByteForByteAndTheReplyIsReadWhole)
{
    FarEnd far(link);
    PosixRs232 port;
    ASSERT_EQ(port.OpenComConfig(4, "", 19200, RS_PARITY_EVEN, 8, 1, 512, -1), 0)
        << port.GetRS232ErrorString(port.ReturnRS232Err());
    EXPECT_EQ(port.DevicePath(4), link);

    test::Rig rig;  // the master link's own send path, on the real port
    MasterIo io{port, rig.clock};
    LinkState& s = rig.app.link;
    ModBusMasterQuery(s);
    EXPECT_EQ(SendDataMaster(s, io, 4), 8);
    EXPECT_EQ(far.readExactly(8), (Bytes{0x01, 0x03, 0x00, 0x00, 0x00, 0x4E, 0xC5, 0xFE}));
    s.ucFuncCod = 6;
    s.usCoilRegAddress = 12;
    s.usWriteValue = 500;
    ModBusMasterQuery(s);
    SendDataMaster(s, io, 4);
    EXPECT_EQ(far.readExactly(8), (Bytes{0x01, 0x06, 0x00, 0x0B, 0x01, 0xF4, 0xF8, 0x1F}));

    // A 161-byte reply arrives in pieces, as on a real line; once all waits, it is read whole.
    s.ucFuncCod = 3;
    const Bytes reply = test::pollReply(1, test::sampleRegisters());
    far.send(Bytes(reply.begin(), reply.begin() + 100));
    far.send(Bytes(reply.begin() + 100, reply.end()));
    ASSERT_EQ(waitQueued(port, 161), 161);
    ReceiveDataMaster(s, io, 4);
    EXPECT_EQ(s.responseValid, 1) << s.commErrorText;
    EXPECT_EQ(Bytes(s.ucRxBuffer, s.ucRxBuffer + 161), reply);
    EXPECT_EQ(port.GetInQLen(4), 0);
}

TEST_F(PtyTest, ReopeningDiscardsQueuedBytesAndShortReadsTimeOut)
{
    FarEnd far(link);
    PosixRs232 port;
    ASSERT_EQ(port.OpenComConfig(4, "", 9600, RS_PARITY_NONE, 8, 1, 512, -1), 0);
    far.send({1, 2, 3, 4, 5});
    ASSERT_EQ(waitQueued(port, 5), 5);
    ASSERT_EQ(port.OpenComConfig(4, "", 9600, RS_PARITY_ODD, 7, 2, 512, -1), 0);
    EXPECT_EQ(port.GetInQLen(4), 0) << "a stale reply must not survive the reopening before a poll";
    termios t{};
    ::tcgetattr(far.fd, &t);  // the settings reached the line (seen from the slave side by the port itself)

    far.send({9, 9});
    waitQueued(port, 2);
    port.SetComTime(4, 0.05);
    std::uint8_t buf[4] = {};
    EXPECT_EQ(port.ComRd(4, buf, 4), 2);
    EXPECT_EQ(port.ReturnRS232Err(), RS_ERR_TIMEOUT);
    EXPECT_EQ(buf[0], 9);
}

TEST_F(PtyTest, ALookAtWhatWaitsTakesNothingAndReopeningDiscardsItToo)
{
    FarEnd far(link);
    PosixRs232 port;
    ASSERT_EQ(port.OpenComConfig(4, "", 9600, RS_PARITY_NONE, 8, 1, 512, -1), 0);
    port.SetComTime(4, 2.0);
    far.send({1, 2, 3, 4, 5});
    ASSERT_EQ(waitQueued(port, 5), 5);
    std::uint8_t seen[8] = {};
    EXPECT_EQ(port.ComPeek(4, seen, 3), 3);
    EXPECT_EQ(Bytes(seen, seen + 3), (Bytes{1, 2, 3}));
    EXPECT_EQ(port.GetInQLen(4), 5);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(port.ComPeek(4, seen, 8), 5) << "a look takes what waits, and no more";
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(500)) << "a look never waits";
    EXPECT_EQ(Bytes(seen, seen + 5), (Bytes{1, 2, 3, 4, 5}));

    // Five bytes that are no exception reply stay queued after the link looked at them.
    test::Rig rig;
    MasterIo io{port, rig.clock};
    LinkState& s = rig.app.link;
    ModBusMasterQuery(s);
    SendDataMaster(s, io, 4);
    far.readExactly(8);
    ReceiveDataMaster(s, io, 4);
    EXPECT_EQ(s.commErrorText, "-NO RESPONSE-");
    EXPECT_EQ(port.GetInQLen(4), 5);

    far.send({6, 7});
    ASSERT_EQ(waitQueued(port, 7), 7);
    std::uint8_t got[7] = {};
    EXPECT_EQ(port.ComRd(4, got, 7), 7);
    EXPECT_EQ(Bytes(got, got + 7), (Bytes{1, 2, 3, 4, 5, 6, 7})) << "what was looked at comes first, in order";
    EXPECT_EQ(port.GetInQLen(4), 0);

    far.send({8, 9});
    ASSERT_EQ(waitQueued(port, 2), 2);
    EXPECT_EQ(port.ComPeek(4, seen, 2), 2);
    ASSERT_EQ(port.OpenComConfig(4, "", 9600, RS_PARITY_NONE, 8, 1, 512, -1), 0);
    EXPECT_EQ(port.GetInQLen(4), 0) << "reopening discards what a look took";
}

TEST_F(PtyTest, VanishedDeviceGivesAnErrorWithTextAndThePortReopensWhenItReturns)
{
    PosixRs232 port;
    {
        FarEnd far(link);
        ASSERT_EQ(port.OpenComConfig(4, "", 9600, RS_PARITY_NONE, 8, 1, 512, -1), 0);
        far.close();  // the adapter is unplugged
        std::uint8_t buf[8];
        port.SetComTime(4, 0.2);
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_LT(port.ComRd(4, buf, 8), 0);
        EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(150)) << "no waiting on a dead line";
        EXPECT_EQ(port.ReturnRS232Err(), RS_ERR_DEVICE_GONE);
        EXPECT_NE(port.GetRS232ErrorString(RS_ERR_DEVICE_GONE).find(link), std::string::npos);
        EXPECT_LT(port.GetInQLen(4), 0);
        std::filesystem::remove(link);
        EXPECT_LT(port.OpenComConfig(4, "", 9600, RS_PARITY_NONE, 8, 1, 512, -1), 0);
        EXPECT_FALSE(port.GetRS232ErrorString(port.ReturnRS232Err()).empty());
    }
    FarEnd back(link);  // plugged back in: same name, new device
    ASSERT_EQ(port.OpenComConfig(4, "", 9600, RS_PARITY_NONE, 8, 1, 512, -1), 0)
        << port.GetRS232ErrorString(port.ReturnRS232Err());
    EXPECT_EQ(port.ComWrtByte(4, 0x42), 0x42);
    EXPECT_EQ(back.readExactly(1), Bytes{0x42});
}

TEST_F(PtyTest, EveryParityOpensOnAPseudoTerminalInAnyOrder)
{
    // The simulator's line: it carries no parity, and must not refuse a setting because an
    // earlier one left bits behind.
    FarEnd far(link);
    PosixRs232 port;
    for (int parity : {RS_PARITY_EVEN, RS_PARITY_ODD, RS_PARITY_NONE, RS_PARITY_EVEN, RS_PARITY_ODD})
        EXPECT_EQ(port.OpenComConfig(4, "", 19200, parity, 8, 1, 512, -1), 0)
            << parity << ": " << port.GetRS232ErrorString(port.ReturnRS232Err());
    const std::uint8_t frame[] = {1, 3, 0, 0, 0, 0x4E, 0xC5, 0xFE};
    EXPECT_EQ(port.ComWrt(4, frame, 8), 8);
    EXPECT_EQ(far.readExactly(8), Bytes(frame, frame + 8));
}

TEST_F(PtyTest, SettingsTheLineCannotTakeAndPortsThatAreNotThere)
{
    PosixRs232 port;
    EXPECT_EQ(port.OpenComConfig(0, "", 9600, 0, 8, 1, 512, -1), RS_ERR_INVALID_PORT);
    EXPECT_EQ(port.OpenComConfig(4, "", 9601, 0, 8, 1, 512, -1), RS_ERR_BAD_SETTINGS);
    EXPECT_EQ(port.OpenComConfig(4, "", 9600, 0, 8, 1, 512, -1), RS_ERR_CANNOT_OPEN);  // nothing at the link yet
    EXPECT_NE(port.GetRS232ErrorString(RS_ERR_CANNOT_OPEN).find(link), std::string::npos);
    EXPECT_EQ(port.ComWrtByte(4, 1), RS_ERR_NOT_OPEN);
    EXPECT_EQ(port.CloseCom(4), RS_ERR_NOT_OPEN);
    ::setenv("VEK_COM4", "/dev/null", 1);
    EXPECT_EQ(port.OpenComConfig(4, "", 9600, 0, 8, 1, 512, -1), RS_ERR_CANNOT_OPEN) << "not a serial device";
}

TEST_F(ReplugTest, ANameRepointedToAnotherDeviceIsFollowedAtTheNextOpen)
{
    FarEnd old(first);
    PosixRs232 port;
    ASSERT_EQ(open(port), 0) << port.GetRS232ErrorString(port.ReturnRS232Err());
    ASSERT_FALSE(released(old));

    FarEnd replugged(first);  // the same name now leads to another device
    ASSERT_EQ(open(port), 0) << port.GetRS232ErrorString(port.ReturnRS232Err());
    EXPECT_TRUE(released(old)) << "the device the name no longer leads to is closed";
    EXPECT_EQ(port.DevicePath(1), first);
    EXPECT_EQ(port.ComWrtByte(1, 0x5A), 0x5A);
    EXPECT_EQ(replugged.readExactly(1), Bytes{0x5A});
}

TEST_F(ReplugTest, AComNumberThatNowResolvesToAnotherPathSwitchesToItAndFlushesTheQueues)
{
    FarEnd fallback(first);
    FarEnd adapter(second);
    PosixRs232 port;
    ASSERT_EQ(open(port), 0);
    EXPECT_EQ(port.DevicePath(1), first);

    ::setenv("VEK_COM1", second.c_str(), 1);  // the adapter is back
    ASSERT_EQ(open(port), 0) << port.GetRS232ErrorString(port.ReturnRS232Err());
    EXPECT_EQ(port.DevicePath(1), second);
    EXPECT_TRUE(released(fallback));
    adapter.send({7, 7, 7});
    int queued = 0;
    for (int i = 0; i < 200 && (queued = port.GetInQLen(1)) < 3; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(queued, 3) << "the reply comes from the adapter";
    ASSERT_EQ(open(port), 0);
    EXPECT_EQ(port.GetInQLen(1), 0) << "reopening still discards what waits";
    EXPECT_EQ(port.DevicePath(1), second);

    // A name that leads nowhere is a port that cannot open, and then none is in use.
    ::setenv("VEK_COM1", (second + "-gone").c_str(), 1);
    EXPECT_EQ(open(port), RS_ERR_CANNOT_OPEN);
    EXPECT_NE(port.GetRS232ErrorString(RS_ERR_CANNOT_OPEN).find(second + "-gone"), std::string::npos);
    EXPECT_EQ(port.DevicePath(1), "");
    EXPECT_TRUE(released(adapter));
}
