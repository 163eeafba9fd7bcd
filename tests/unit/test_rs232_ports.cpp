// The rules every system's serial ports share (platform/rs232_ports.h), over a device of the
// test's own: what is opened, claimed, released and closed when, what a reopening carries
// over, where the read-ahead goes, and the words of each error.
#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <string>
#include <vector>

#include "rs232_ports.h"

using namespace vek::platform;

namespace {

void setComEnv(const char* value)
{
#ifdef _WIN32
    _putenv_s("VEK_COM1", value);
#else
    setenv("VEK_COM1", value, 1);
#endif
}

struct FakeDevice {
    std::string openedPath;
};

// A device that does what the test tells it and writes down every call.
class FakePorts : public Rs232Ports<FakeDevice> {
public:
    ~FakePorts() override { closeAll(); }

    std::vector<std::string> calls;
    bool gone = false;               // the open device has gone
    std::deque<bool> configureGone;  // configure reports the device gone, one entry a call
    bool refuseClaim = false;
    std::optional<SystemError> releaseError;
    std::vector<std::uint8_t> waiting;  // bytes on the line
    std::optional<DeviceFailure> readEnd;

private:
    bool settingsValid(long baud, int, int dataBits, int) const override { return baud == 9600 && dataBits == 8; }
    int openDevice(Port& p, int busyCode) override
    {
        calls.push_back("open " + p.path + (busyCode == RS_ERR_BUSY ? " (claimed)" : ""));
        if (p.path == "/dev/absent")
            return failSystem(RS_ERR_CANNOT_OPEN, p, {false, "No such file or directory"});
        p.dev.openedPath = p.path;
        gone = false;
        return 0;
    }
    void closeDevice(Port& p) override { calls.push_back("close " + p.dev.openedPath); }
    bool deviceGone(const Port&) const override { return gone; }
    bool namesAnotherDevice(const Port& p, const std::string& path) const override { return path != p.path; }
    int claimDevice(Port& p) override
    {
        calls.push_back("claim");
        if (refuseClaim)
            return fail(RS_ERR_BUSY, "Port busy, in use by another program: " + p.path + " (locked)");
        return 0;
    }
    std::optional<SystemError> releaseDevice(Port&) override
    {
        calls.push_back("release");
        return releaseError;
    }
    std::optional<DeviceFailure> configureDevice(Port&, long, int, int, int, int, int) override
    {
        calls.push_back("configure");
        const bool goneNow = !configureGone.empty() && configureGone.front();
        if (!configureGone.empty())
            configureGone.pop_front();
        if (goneNow)
            return DeviceFailure{RS_ERR_BAD_SETTINGS, SystemError{true, "Input/output error"}};
        waiting.clear();
        return std::nullopt;
    }
    int writeDevice(Port&, const std::uint8_t*, int count) override { return count; }
    std::optional<DeviceFailure> readDevice(Port&, std::uint8_t* buffer, int count, int& got) override
    {
        got = std::min(count, static_cast<int>(waiting.size()));
        std::copy_n(waiting.begin(), got, buffer);
        waiting.erase(waiting.begin(), waiting.begin() + got);
        if (got == count)
            return std::nullopt;
        return readEnd ? readEnd : DeviceFailure{RS_ERR_TIMEOUT, std::nullopt};
    }
    std::optional<DeviceFailure> fillAhead(Port& p, int count) override
    {
        while (static_cast<int>(p.ahead.size()) < count && !waiting.empty()) {
            p.ahead.push_back(waiting.front());
            waiting.erase(waiting.begin());
        }
        return readEnd;
    }
    int waitingBytes(Port& p) override { return static_cast<int>(waiting.size() + p.ahead.size()); }
};

class SharedPortRules : public ::testing::Test {
protected:
    void SetUp() override { setComEnv("/dev/fake-a"); }
    void TearDown() override { setComEnv(""); }
    int open() { return ports.OpenComConfig(1, "", 9600, RS_PARITY_NONE, 8, 1, 512, 512); }
    FakePorts ports;
};

using Calls = std::vector<std::string>;

TEST_F(SharedPortRules, AReopeningDropsAGoneOrRenamedDeviceAndCarriesTheClaimOver)
{
    ASSERT_EQ(ports.ClaimCom(1), 0);
    ASSERT_EQ(open(), 0);
    EXPECT_EQ(ports.calls, (Calls{"open /dev/fake-a (claimed)", "claim", "configure"}));

    struct Row {
        const char* what;
        bool gone;
        const char* env;
        Calls calls;
    };
    const Row rows[] = {
        {"still there: reconfigured", false, "/dev/fake-a", {"configure"}},
        {"gone",
         true,
         "/dev/fake-a",
         {"release", "close /dev/fake-a", "open /dev/fake-a (claimed)", "claim", "configure"}},
        {"COM1 names another device",
         false,
         "/dev/fake-b",
         {"release", "close /dev/fake-a", "open /dev/fake-b (claimed)", "claim", "configure"}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        ports.calls.clear();
        ports.gone = r.gone;
        setComEnv(r.env);
        EXPECT_EQ(open(), 0);
        EXPECT_EQ(ports.calls, r.calls);
        EXPECT_EQ(ports.DevicePath(1), r.env);
        setComEnv("/dev/fake-a");
        open();
    }
    // Still claimed: claiming again touches nothing, closing releases first.
    ports.calls.clear();
    EXPECT_EQ(ports.ClaimCom(1), 0);
    EXPECT_EQ(ports.CloseCom(1), 0);
    EXPECT_EQ(ports.calls, (Calls{"release", "close /dev/fake-a"}));
    EXPECT_EQ(ports.DevicePath(1), "");
}

TEST_F(SharedPortRules, ADeviceThatGoesWhileBeingSetUpIsOpenedOnceMoreOnly)
{
    ports.configureGone = {true, false};
    EXPECT_EQ(open(), 0);
    EXPECT_EQ(ports.calls,
              (Calls{"open /dev/fake-a", "configure", "close /dev/fake-a", "open /dev/fake-a", "configure"}));

    ports.calls.clear();
    ports.configureGone = {true, true};
    EXPECT_EQ(open(), RS_ERR_DEVICE_GONE);
    EXPECT_EQ(ports.GetRS232ErrorString(RS_ERR_DEVICE_GONE),
              "Serial device disconnected: /dev/fake-a (Input/output error)");
    EXPECT_EQ(ports.calls.size(), 5u);
    EXPECT_EQ(ports.DevicePath(1), "");  // left closed
}

TEST_F(SharedPortRules, ErrorsNameThePortOrTheDeviceAndTheCause)
{
    struct Row {
        const char* what;
        int code;
        std::string text;
    };
    auto run = [&](const char* what) -> int {
        const std::string w = what;
        if (w == "port 0")
            return ports.OpenComConfig(0, "", 9600, RS_PARITY_NONE, 8, 1, 0, 0);
        if (w == "7 data bits")
            return ports.OpenComConfig(1, "", 9600, RS_PARITY_EVEN, 7, 1, 0, 0);
        if (w == "not open")
            return ports.GetInQLen(1);
        if (w == "absent") {
            setComEnv("/dev/absent");
            return open();
        }
        if (w == "claim refused")
            return ports.ClaimCom(1);
        return 0;
    };
    const Row rows[] = {
        {"port 0", RS_ERR_INVALID_PORT, "Invalid port number: COM0"},
        {"7 data bits", RS_ERR_BAD_SETTINGS,
         "Unsupported port settings: 9600 baud, 7 data bits, 1 stop bits, parity 2"},
        {"not open", RS_ERR_NOT_OPEN, "Port is not open: COM1"},
        {"absent", RS_ERR_CANNOT_OPEN, "Cannot open port: /dev/absent (No such file or directory)"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        EXPECT_EQ(run(r.what), r.code);
        EXPECT_EQ(ports.ReturnRS232Err(), r.code);
        EXPECT_EQ(ports.GetRS232ErrorString(r.code), r.text);
    }
    // A refused claim on a port that was not open leaves it closed, with the claim's words.
    setComEnv("/dev/fake-a");
    ports.refuseClaim = true;
    ports.calls.clear();
    EXPECT_EQ(run("claim refused"), RS_ERR_BUSY);
    EXPECT_EQ(ports.calls, (Calls{"open /dev/fake-a (claimed)", "claim", "close /dev/fake-a"}));
    EXPECT_EQ(ports.GetRS232ErrorString(RS_ERR_BUSY), "Port busy, in use by another program: /dev/fake-a (locked)");
    EXPECT_EQ(ports.DevicePath(1), "");
}

TEST_F(SharedPortRules, AReleaseTheDeviceRefusesIsReportedAndEndsTheClaimAnyway)
{
    ASSERT_EQ(ports.ReleaseCom(1), RS_ERR_NOT_OPEN);
    ASSERT_EQ(open(), 0);
    EXPECT_EQ(ports.ReleaseCom(1), 0);  // not claimed: nothing to give back
    ASSERT_EQ(ports.ClaimCom(1), 0);
    ports.releaseError = SystemError{false, "Invalid argument"};
    EXPECT_EQ(ports.ReleaseCom(1), RS_ERR_SYSTEM);
    EXPECT_EQ(ports.GetRS232ErrorString(RS_ERR_SYSTEM), "Serial port system error: /dev/fake-a (Invalid argument)");
    ports.calls.clear();
    EXPECT_EQ(ports.ReleaseCom(1), 0);
    EXPECT_EQ(ports.calls, Calls{});
}

TEST_F(SharedPortRules, TheReadAheadComesFirstAndCountsInEveryAnswer)
{
    ASSERT_EQ(open(), 0);
    ports.waiting = {1, 2, 3};
    std::uint8_t b[10] = {};
    ASSERT_EQ(ports.ComPeek(1, b, 2), 2);
    EXPECT_EQ(ports.GetInQLen(1), 3);
    // Three of ten: what came, and the time-out counting the bytes looked at before.
    EXPECT_EQ(ports.ComRd(1, b, 10), 3);
    EXPECT_EQ((std::vector<std::uint8_t>(b, b + 3)), (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(ports.ReturnRS232Err(), RS_ERR_TIMEOUT);
    EXPECT_EQ(ports.GetRS232ErrorString(RS_ERR_TIMEOUT), "Timeout error: /dev/fake-a (3 of 10 bytes)");

    // A hang-up with bytes looked at: they are read first, the error shows once none is left.
    ports.waiting = {7};
    ports.readEnd = DeviceFailure{RS_ERR_DEVICE_GONE, std::nullopt};
    EXPECT_EQ(ports.ComPeek(1, b, 4), 1);
    EXPECT_EQ(ports.ReturnRS232Err(), 0);
    EXPECT_EQ(ports.ComRd(1, b, 4), 1);
    EXPECT_EQ(b[0], 7);
    EXPECT_EQ(ports.ComPeek(1, b, 4), RS_ERR_DEVICE_GONE);
    EXPECT_EQ(ports.GetRS232ErrorString(RS_ERR_DEVICE_GONE), "Serial device disconnected: /dev/fake-a");
    EXPECT_EQ(ports.ComRd(1, b, 4), RS_ERR_DEVICE_GONE);

    // A reopening drops what was looked at, as what waited.
    ports.readEnd.reset();
    ports.waiting = {9, 9};
    ASSERT_EQ(ports.ComPeek(1, b, 2), 2);
    ASSERT_EQ(open(), 0);
    EXPECT_EQ(ports.GetInQLen(1), 0);
}

}  // namespace
