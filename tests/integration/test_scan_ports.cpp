// Find Transmitter's hold on real pseudo-terminals: a port another program holds (exclusive
// use, or a lock) is refused as busy and the scan skips it untouched; a port the scan took
// gets back the line settings it had and is free for other programs again, however the scan
// ends; the program's own port is polled through afterwards without exclusive use.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "app_rig.h"
#include "cwd_guard.h"
#include "posix_rs232.h"

using namespace vek;
using namespace vek::platform;

namespace {

// A pseudo-terminal whose slave COM`com` names, through a link, with the master as the far end.
struct Pty {
    int com;
    int master = -1;
    std::string slave, link;
    explicit Pty(int n) : com(n)
    {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        EXPECT_GE(master, 0);
        ::grantpt(master);
        ::unlockpt(master);
        slave = ::ptsname(master);
        link = (std::filesystem::temp_directory_path() /
                ("vek-scan-com" + std::to_string(n) + "-" + std::to_string(::getpid())))
                   .string();
        std::filesystem::remove(link);
        std::filesystem::create_symlink(slave, link);
        ::setenv(("VEK_COM" + std::to_string(n)).c_str(), link.c_str(), 1);
    }
    ~Pty()
    {
        ::unsetenv(("VEK_COM" + std::to_string(com)).c_str());
        std::filesystem::remove(link);
        ::close(master);
    }
    // Another program's descriptor on the device.
    int open() const { return ::open(slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); }
    // Takes what the port sent, so its output never fills up; returns how many bytes.
    std::size_t drain() const
    {
        std::size_t total = 0;
        std::uint8_t buf[512];
        for (ssize_t n; (n = ::read(master, buf, sizeof buf)) > 0;)
            total += static_cast<std::size_t>(n);
        return total;
    }
};

// The whole of a device's line settings, as text, so a difference shows in the failure.
std::string lineOf(int fd)
{
    termios t{};
    if (::tcgetattr(fd, &t) != 0)
        return "tcgetattr failed";
    std::ostringstream s;
    s << std::oct << "iflag " << t.c_iflag << " oflag " << t.c_oflag << " cflag " << t.c_cflag << " lflag " << t.c_lflag
      << std::dec << " speed " << ::cfgetispeed(&t) << '/' << ::cfgetospeed(&t) << " cc";
    for (cc_t c : t.c_cc)
        s << ' ' << static_cast<int>(c);
    return s.str();
}

// True while some descriptor holds the device for exclusive use: another open fails with
// EBUSY, or, for a process that may override that (root), the device says so.
bool heldExclusively(const Pty& p)
{
    const int fd = p.open();
    if (fd < 0)
        return errno == EBUSY;
    int exclusive = 0;
    ::ioctl(fd, TIOCGEXCL, &exclusive);
    ::close(fd);
    return exclusive != 0;
}

// Runs the scan to its end, taking what it sends on every pseudo-terminal.
void runScan(App& app, const std::vector<const Pty*>& ptys)
{
    for (int guard = 0; guard < 100000; ++guard) {
        const auto r = app.scan.Step(app);
        for (const Pty* p : ptys)
            p->drain();
        if (r == TransmitterScan::StepResult::Finished)
            return;
    }
    FAIL() << "the scan never ended";
}

// How another program holds a port, and how a scan ends.
enum class Hold { Exclusive, Locked };
enum class Ending { Done, Cancelled };

class HeldPty : public ::testing::TestWithParam<Hold> {};
class ScannedPty : public ::testing::TestWithParam<Ending> {};

}  // namespace

TEST_P(HeldPty, IsRefusedAsBusyAndTheScanSkipsItUntouched)
{
    Pty held(5), free(6);
    const int holder = held.open();
    ASSERT_GE(holder, 0);
    if (GetParam() == Hold::Exclusive)
        ASSERT_EQ(::ioctl(holder, TIOCEXCL), 0);
    else
        ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    const std::string before = lineOf(holder);

    test::CwdGuard cwd;
    PosixRs232 com;
    EXPECT_EQ(com.ClaimCom(5), RS_ERR_BUSY);
    EXPECT_NE(com.GetRS232ErrorString(RS_ERR_BUSY).find(held.link), std::string::npos)
        << com.GetRS232ErrorString(RS_ERR_BUSY);
    EXPECT_EQ(com.DevicePath(5), "") << "a refused port is left closed";

    test::AppRig rig(1458000000, &com);
    ASSERT_TRUE(rig.app.scan.Start(rig.app, {5, 6}));
    runScan(rig.app, {&free});
    EXPECT_EQ(rig.app.scan.skipped(),
              std::vector<std::string>{"COM5 (" + held.link + "): busy, in use by another program — skipped"});
    EXPECT_EQ(rig.app.scan.done(), 6u * 247u) << "every probe of the free port ran";
    EXPECT_EQ(held.drain(), 0u) << "nothing was sent on the held port";
    EXPECT_EQ(lineOf(holder), before) << "nor were its settings touched";
    if (GetParam() == Hold::Exclusive) {
        EXPECT_TRUE(heldExclusively(held)) << "its holder's exclusive use stays";
    }
    ::close(holder);
}

INSTANTIATE_TEST_SUITE_P(Holds, HeldPty, ::testing::Values(Hold::Exclusive, Hold::Locked),
                         [](const ::testing::TestParamInfo<Hold>& i) {
                             return std::string(i.param == Hold::Exclusive ? "Exclusive" : "Locked");
                         });

// Root may open a device held exclusively, so the refusal above came from asking the device;
// an ordinary user's open fails with EBUSY, which must give the same refusal.
TEST(HeldPtyUnprivileged, TheOpenFailingWithEbusyIsRefusedAsBusy)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "not root: the test above took the EBUSY path already";
    Pty held(5);
    const int holder = held.open();
    ASSERT_EQ(::ioctl(holder, TIOCEXCL), 0);
    ASSERT_EQ(::chmod(held.slave.c_str(), 0666), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // An ordinary user: no right to override exclusive use.
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(2);
        PosixRs232 com;
        ::_exit(com.ClaimCom(5) == RS_ERR_BUSY && com.DevicePath(5).empty() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: not refused as busy; 2: could not become an ordinary user";
    ::close(holder);
}

TEST_P(ScannedPty, GetsItsLineSettingsBackAndTheProgramsOwnPortIsPolledWithoutExclusiveUse)
{
    Pty own(6), other(7);
    // Another program left COM7 at 19200 baud, 7 data bits, even parity, 2 stop bits, in
    // canonical mode (a pseudo-terminal keeps what of that it can carry), and closed it.
    {
        const int fd = other.open();
        termios t{};
        ASSERT_EQ(::tcgetattr(fd, &t), 0);
        t.c_cflag = (t.c_cflag & ~(CSIZE | PARODD)) | CS7 | PARENB | CSTOPB;
        t.c_lflag |= ICANON | ECHO;
        ::cfsetispeed(&t, B19200);
        ::cfsetospeed(&t, B19200);
        ASSERT_EQ(::tcsetattr(fd, TCSANOW, &t), 0);
        ::close(fd);
    }
    const int watcher = other.open();
    const std::string before = lineOf(watcher);

    test::CwdGuard cwd;
    PosixRs232 com;
    test::AppRig rig(1458000000, &com);
    rig.configurePort(6);  // the program polls COM6 at 9600 baud, no parity
    rig.tick();
    ASSERT_EQ(own.drain(), 8u) << "a poll went out";
    ASSERT_TRUE(rig.app.scan.Start(rig.app, {6, 7}));
    for (int i = 0; i < 20; ++i) {
        rig.app.scan.Step(rig.app);
        own.drain();
        other.drain();
    }
    EXPECT_NE(lineOf(watcher), before) << "the probes set their own line";
    EXPECT_TRUE(heldExclusively(other)) << "no other program opens it during the scan";
    EXPECT_TRUE(heldExclusively(own));
    if (GetParam() == Ending::Done)
        runScan(rig.app, {&own, &other});
    else
        rig.app.scan.Cancel(rig.app);

    EXPECT_FALSE(rig.app.scan.running());
    EXPECT_EQ(lineOf(watcher), before);
    EXPECT_FALSE(heldExclusively(other));
    EXPECT_EQ(com.DevicePath(7), "") << "closed";
    EXPECT_FALSE(heldExclusively(own)) << "the program polls without exclusive use, as before the scan";
    EXPECT_EQ(com.DevicePath(6), own.link);
    own.drain();
    rig.tick();
    EXPECT_EQ(own.drain(), 8u) << "and its polls go out";
    ::close(watcher);
}

INSTANTIATE_TEST_SUITE_P(Endings, ScannedPty, ::testing::Values(Ending::Done, Ending::Cancelled),
                         [](const ::testing::TestParamInfo<Ending>& i) {
                             return std::string(i.param == Ending::Done ? "Done" : "Cancelled");
                         });

// A device that comes back as a new one behind the same name during a claim (an adapter
// pulled out and plugged back in) is claimed in its turn at the reopening, and released
// with the settings it had.
TEST(ClaimedPty, AReplacedDeviceIsClaimedAtTheReopeningAndGivenBackItsOwnSettings)
{
    PosixRs232 com;
    {
        Pty first(8);
        ASSERT_EQ(com.ClaimCom(8), 0) << com.GetRS232ErrorString(com.ReturnRS232Err());
        ASSERT_EQ(com.OpenComConfig(8, "", 9600, RS_PARITY_NONE, 8, 1, 512, -1), 0);
    }
    Pty replugged(8);
    const int watcher = replugged.open();
    const std::string before = lineOf(watcher);
    ASSERT_EQ(com.OpenComConfig(8, "", 19200, RS_PARITY_NONE, 8, 1, 512, -1), 0)
        << com.GetRS232ErrorString(com.ReturnRS232Err());
    EXPECT_TRUE(heldExclusively(replugged));
    EXPECT_NE(lineOf(watcher), before);
    EXPECT_EQ(com.ReleaseCom(8), 0);
    EXPECT_EQ(lineOf(watcher), before);
    EXPECT_FALSE(heldExclusively(replugged));
    ::close(watcher);
}
