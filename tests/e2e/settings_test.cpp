// The serial settings across a restart, the password in front of the advanced set-up, and
// leaving the program.
#include <QLineEdit>
#include <QTimer>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>

#include "harness.h"

namespace vek::e2e {
namespace {

std::optional<termios> lineSettingsOf(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    termios t{};
    const bool ok = ::tcgetattr(fd, &t) == 0;
    ::close(fd);
    return ok ? std::optional<termios>(t) : std::nullopt;
}

// What another program on the line might leave behind: 9600 baud, no parity.
void setLineTo9600NoParity(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0) << path;
    termios t{};
    ASSERT_EQ(::tcgetattr(fd, &t), 0);
    ::cfmakeraw(&t);
    ::cfsetispeed(&t, B9600);
    ::cfsetospeed(&t, B9600);
    ASSERT_EQ(::tcsetattr(fd, TCSANOW, &t), 0);
    ::close(fd);
}

TEST(SerialSettings, PortBaudAndParitySavedInTheSettingsWindowBringPollingBackAfterARestart)
{
    Workspace ws;
    // The simulator ignores requests sent at any speed but its own.
    Simulator sim(ws.linkPath(), ws.path("sim.log"),
                  {"--seed", "5", "--baud", "19200", "--parity", "even", "--check-baud"});
    ASSERT_TRUE(sim.started()) << sim.diagnostics().toStdString();

    {
        RunningProgram first;
        const int main = first.main();
        ASSERT_TRUE(runEventsUntil([&] { return first.message() == "Insert a valid com port !"; }, 9000));
        EXPECT_TRUE(first.lamp());
        EXPECT_EQ(first.polls(), 0);

        first.click(main, "CONFIG_SER_PORT");
        const int ser = first.app().st.panelRs485;
        ASSERT_TRUE(first.shown(ser));
        EXPECT_EQ(first.text(ser, "COMPORT"), "No Port");
        first.pickRingItem(ser, "COMPORT", "COM1");
        EXPECT_EQ(first.text(ser, "DEVICE_PATH"), QString::fromStdString("COM1 = " + ws.linkPath()));
        first.pickRingItem(ser, "BAUD_RATE", "19200");
        first.pickRingItem(ser, "PARITY", "Even Parity");
        first.click(ser, "SAVE_SETTINGS");
        EXPECT_TRUE(first.popups().empty());
        EXPECT_TRUE(std::filesystem::exists(ws.path("RS_Settings")));
        first.click(ser, "EXIT");
        EXPECT_FALSE(first.shown(ser));

        // The chosen port is polled from the next tick on.
        ASSERT_TRUE(first.waitForPolls(1, 9000));
        EXPECT_EQ(first.validReplies(), 1);
        EXPECT_EQ(first.message(), "");
    }
    ASSERT_EQ(sim.log().requests().size(), 1u);
    setLineTo9600NoParity(ws.linkPath());

    RunningProgram second;
    ASSERT_TRUE(second.waitForPolls(1, 9000));
    EXPECT_EQ(second.validReplies(), 1) << second.message().toStdString();
    EXPECT_EQ(second.message(), "");
    EXPECT_EQ(sim.log().requests().size(), 2u);
    const auto line = lineSettingsOf(ws.linkPath());
    ASSERT_TRUE(line.has_value());
    EXPECT_EQ(::cfgetospeed(&*line), static_cast<speed_t>(B19200));
    // A pseudo-terminal carries no parity, so the line cannot show it; the settings window
    // shows what the port was opened with.
    second.click(second.main(), "CONFIG_SER_PORT");
    const int ser = second.app().st.panelRs485;
    ASSERT_TRUE(second.shown(ser));
    EXPECT_EQ(second.text(ser, "COMPORT"), "COM1");
    EXPECT_EQ(second.text(ser, "BAUD_RATE"), "19200");
    EXPECT_EQ(second.text(ser, "PARITY"), "Even Parity");
}

TEST(PasswordGate, AdvancedSetUpOpensOnlyForTheRightPasswordAndAsksAgainEveryTime)
{
    Workspace ws;
    RunningProgram p;
    const int main = p.main();

    p.click(main, "SET_UP");
    const int password = p.app().st.panelPassword;
    ASSERT_TRUE(p.shown(password));
    EXPECT_EQ(p.widget<QLineEdit>(password, "STRING")->echoMode(), QLineEdit::Password);
    EXPECT_FALSE(p.shown(p.app().st.panelAdvanced));

    p.typeAndEnter(password, "STRING", "tunda");
    ASSERT_EQ(p.popups().size(), 1u);
    EXPECT_EQ(p.popups()[0].title, "Warning");
    EXPECT_EQ(p.popups()[0].text, "Wrong Password!");
    EXPECT_FALSE(p.shown(p.app().st.panelAdvanced));
    EXPECT_TRUE(p.shown(password));

    p.typeAndEnter(password, "STRING", "tundo");
    EXPECT_EQ(p.popups().size(), 1u);
    const int adv = p.app().st.panelAdvanced;
    EXPECT_TRUE(p.shown(adv));
    EXPECT_FALSE(p.shown(password));

    p.click(adv, "EXIT_3");
    EXPECT_FALSE(p.shown(adv));
    p.click(main, "SET_UP");
    EXPECT_TRUE(p.shown(p.app().st.panelPassword));
    EXPECT_EQ(p.text(p.app().st.panelPassword, "STRING"), "");
    EXPECT_FALSE(p.shown(p.app().st.panelAdvanced));
}

TEST(Exit, ExitOnTheMainWindowEndsTheProgramWithStatusZeroAndClosesThePortWhateverElseIsOpen)
{
    Workspace ws;
    ws.writeSettingsForCom1();
    Simulator sim(ws.linkPath(), ws.path("sim.log"), {"--seed", "9"});
    ASSERT_TRUE(sim.started()) << sim.diagnostics().toStdString();
    RunningProgram p(/*pumpTimers=*/false);
    const int main = p.main();

    // The case runs inside the program's own event loop, as a user would act in it.
    QObject scope;
    bool reachedExit = false;
    std::string portBefore;
    std::vector<int> othersOpen;
    QTimer::singleShot(0, &scope, [&] {
        if (!p.waitForPolls(1, 9000))
            return QCoreApplication::exit(99);
        p.click(main, "SET_UP_UT");
        p.click(main, "INFO");
        p.click(main, "LOGGER");
        p.click(main, "CONFIG_SER_PORT");
        p.click(main, "SET_UP");
        p.typeAndEnter(p.app().st.panelPassword, "STRING", "tundo");
        p.doubleClick(main, "UID");
        const auto& st = p.app().st;
        for (int h :
             {st.panelUser, st.panelInfo, st.panelDataLog, st.panelRs485, st.panelAdvanced, st.panelWriteDialog})
            if (p.shown(h))
                othersOpen.push_back(h);
        portBefore = p.program().com().DevicePath(1);
        reachedExit = true;
        p.click(main, "EXIT");
    });
    QTimer stuck;
    stuck.setSingleShot(true);
    QObject::connect(&stuck, &QTimer::timeout, [] { QCoreApplication::exit(98); });
    stuck.start(60000);

    const int status = p.program().run(*qApp);

    ASSERT_TRUE(reachedExit);
    EXPECT_EQ(othersOpen.size(), 6u);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(portBefore, ws.linkPath());
    EXPECT_EQ(p.program().com().DevicePath(1), "");
    EXPECT_FALSE(p.shown(main));
}

}  // namespace
}  // namespace vek::e2e
