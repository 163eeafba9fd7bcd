// The Find Transmitter window over the headless program (in-memory line, virtual clock),
// offscreen: the button on the RS485 Settings window opens it; a scan lists what answered as
// it goes and names the ports it skipped; Cancel and closing the window stop it; "Use" takes
// a transmitter, asks about a slave that refused the read and says why it takes nothing else.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QProgressDialog>
#include <QTest>
#include <QPushButton>
#include <QTableWidget>

#include "app_rig.h"
#include "cwd_guard.h"
#include "find_window.h"
#include "qt_tool_windows.h"
#include "register_map.h"

using namespace vek;
using vek::test::AppRig;

namespace {

struct FindWindowTest : ::testing::Test {
    test::CwdGuard cwd;
    AppRig rig;
    App& app = rig.app;
    tools::QtToolWindows windows{app};
    int probes = 0;

    // A transmitter at 19200 baud, even parity, address 42 (model 0x11) answers the reads;
    // slave 43 at that setting answers with a damaged CRC, and slave 44 refuses the read
    // with exception 2.
    void SetUp() override
    {
        app.windows = &windows;
        rig.com.peer = [this](int port, const AppRig::Bytes& f) {
            if (f.size() != 8 || f[1] != 3)
                return;
            probes += f[5] == 1;
            const auto& open = rig.com.opens.back();
            if (open.baud != 19200 || open.parity != platform::RS_PARITY_EVEN)
                return;
            if (f[0] == 42 && f[5] == 1)
                rig.com.injectAfter(port, 0.01, AppRig::withCrc({42, 3, 2, 0, 0x11}));
            if (f[0] == 42 && f[5] == reg::kPolled)
                rig.com.injectAfter(port, 0.05, rig.pollReplyFrom(42));
            if (f[0] == 43 && f[5] == 1) {
                auto r = AppRig::withCrc({43, 3, 2, 0, 0x11});
                r.back() ^= 1;
                rig.com.injectAfter(port, 0.01, r);
            }
            if (f[0] == 44)
                rig.com.injectAfter(port, 0.01, AppRig::withCrc({44, 0x83, 2}));
        };
    }
    void TearDown() override { app.windows = nullptr; }

    tools::FindWindow& openFromSettings()
    {
        rig.panels.PostEvent(app.st.panelMain, PANEL_CONFIG_SER_PORT, EVENT_COMMIT);
        rig.panels.PostEvent(app.st.panelRs485, PANEL_2_FIND_TRANSMITTER, EVENT_COMMIT);
        EXPECT_NE(windows.find(), nullptr);
        return *windows.find();
    }
    // Lets the window's stepper run until the scan is over (or `probesWanted` went out).
    void runScan(int probesWanted = 1 << 30)
    {
        for (int i = 0; i < 20000 && app.scan.running() && probes < probesWanted; ++i)
            QCoreApplication::processEvents();
    }
    QString cell(tools::FindWindow& w, int row, int col) { return w.table()->item(row, col)->text(); }
};

}  // namespace

TEST_F(FindWindowTest, TheSettingsWindowsButtonOpensItAndAScanListsWhatAnswered)
{
    tools::FindWindow& w = openFromSettings();
    EXPECT_TRUE(w.isVisible());
    w.setPortChoice(1);
    w.start();
    EXPECT_TRUE(app.scan.running());
    EXPECT_FALSE(w.startButton()->isEnabled());
    EXPECT_TRUE(w.cancelButton()->isEnabled());
    runScan();
    ASSERT_FALSE(app.scan.running());
    EXPECT_EQ(probes, 6 * 247);
    EXPECT_EQ(w.progress()->value(), w.progress()->maximum());
    ASSERT_EQ(w.table()->rowCount(), 3);
    EXPECT_EQ(cell(w, 0, 0), "COM1");
    EXPECT_EQ(cell(w, 0, 2), "19200");
    EXPECT_EQ(cell(w, 0, 3), "even");
    EXPECT_EQ(cell(w, 0, 4), "42");
    EXPECT_EQ(cell(w, 0, 5), "Gauge 5m (model code 17)");
    EXPECT_EQ(cell(w, 1, 4), "43");
    EXPECT_TRUE(cell(w, 1, 5).startsWith("something answered"));
    EXPECT_EQ(cell(w, 2, 4), "44");
    EXPECT_TRUE(cell(w, 2, 5).contains("exception 2 (Illegal data address)")) << cell(w, 2, 5).toStdString();
    EXPECT_NE(w.table()->item(2, 5)->background(), w.table()->item(0, 5)->background()) << "an orange row";
    EXPECT_TRUE(w.status()->text().contains("1 transmitter found, and something else answered 2 times"))
        << w.status()->text().toStdString();
    EXPECT_TRUE(w.startButton()->isEnabled());

    // "Use" on the damaged reply says why there is nothing to poll there, and takes nothing.
    w.table()->selectRow(1);
    EXPECT_TRUE(w.useButton()->isEnabled());
    EXPECT_EQ(w.use(1), ScanUseOutcome::Refused);
    ASSERT_EQ(rig.popups.popups.size(), 1u);
    EXPECT_NE(rig.popupText(0).find("was damaged"), std::string::npos) << rig.popupText(0);
    EXPECT_NE(app.link.slaveAddress, 43);
    w.table()->selectRow(0);
    EXPECT_TRUE(w.useButton()->isEnabled());
    w.useButton()->click();
    EXPECT_EQ(app.link.slaveAddress, 42);
    EXPECT_EQ(app.link.ulBaudRate, 1u);
    EXPECT_EQ(app.link.usParity, 1);
    rig.tick();
    EXPECT_EQ(app.link.responseValid, 1) << "the program polls the transmitter it was given";
}

TEST_F(FindWindowTest, WithAGatewayChosenItScansItsAddressesAndUseKeepsTheGateway)
{
    rig.configurePort(1);
    app.st.network = {2, "10.0.0.5", 1502};
    ApplyNetworkSettings(app);
    // Behind the gateway, the transmitter at address 42 answers whatever the serial settings.
    rig.com.peer = [this](int port, const AppRig::Bytes& f) {
        probes += f.size() == 8 && f[1] == 3 && f[5] == 1;
        if (f.size() == 8 && f[0] == 42 && f[5] == 1)
            rig.com.injectAfter(port, 0.01, AppRig::withCrc({42, 3, 2, 0, 0x11}));
    };
    tools::FindWindow& w = openFromSettings();
    EXPECT_EQ(w.portChoice()->currentText(), "The gateway: Modbus TCP to 10.0.0.5:1502");
    QTest::mouseClick(w.startButton(), Qt::LeftButton);
    EXPECT_EQ(app.scan.gatewayDevice(), "modbus-tcp://10.0.0.5:1502");
    runScan();
    ASSERT_FALSE(app.scan.running());
    EXPECT_EQ(probes, 247);
    ASSERT_EQ(w.table()->rowCount(), 1);
    EXPECT_EQ(cell(w, 0, 0), "Gateway");
    EXPECT_EQ(cell(w, 0, 2), "—");
    EXPECT_EQ(cell(w, 0, 4), "42");
    w.table()->selectRow(0);
    QTest::mouseClick(w.useButton(), Qt::LeftButton);
    EXPECT_EQ(app.link.deviceName, "modbus-tcp://10.0.0.5:1502");
    EXPECT_EQ(app.link.slaveAddress, 42);
    EXPECT_TRUE(w.status()->text().startsWith("The program now polls address 42 on the gateway"))
        << w.status()->text().toStdString();
}

TEST_F(FindWindowTest, CancelStopsTheScanAndPollingResumes)
{
    rig.configurePort(1);
    tools::FindWindow& w = openFromSettings();
    w.setPortChoice(1);
    w.start();
    runScan(100);
    ASSERT_TRUE(app.scan.running());
    w.cancelButton()->click();
    EXPECT_FALSE(app.scan.running());
    const int sent = probes;
    for (int i = 0; i < 50; ++i)
        QCoreApplication::processEvents();
    EXPECT_EQ(probes, sent) << "no probe after Cancel";
    EXPECT_TRUE(w.status()->text().startsWith("Cancelled after")) << w.status()->text().toStdString();
    EXPECT_TRUE(w.startButton()->isEnabled());
    const std::size_t frames = rig.com.frames.size();
    rig.tick();
    ASSERT_EQ(rig.com.frames.size(), frames + 1);
    EXPECT_EQ(rig.com.frames.back(), test::expectedPoll(1));
}

TEST_F(FindWindowTest, ClosingTheWindowDuringTheScanEndsIt)
{
    tools::FindWindow& w = openFromSettings();
    w.setPortChoice(1);
    w.start();
    runScan(20);
    w.close();
    EXPECT_FALSE(app.scan.running());
    EXPECT_TRUE(app.scan.cancelled());
    const int sent = probes;
    for (int i = 0; i < 50; ++i)
        QCoreApplication::processEvents();
    EXPECT_EQ(probes, sent);
}

TEST_F(FindWindowTest, UseOnASlaveThatRefusedTheReadAsksAndNoLetsTheScanGoOn)
{
    rig.configurePort(1);
    tools::FindWindow& w = openFromSettings();
    w.setPortChoice(1);
    w.start();
    for (int i = 0; i < 20000 && app.scan.running() && w.table()->rowCount() < 3; ++i)
        QCoreApplication::processEvents();
    ASSERT_EQ(w.table()->rowCount(), 3);
    ASSERT_TRUE(app.scan.running());
    rig.popups.confirmAnswer = false;
    w.table()->selectRow(2);
    ASSERT_TRUE(w.useButton()->isEnabled());
    w.useButton()->click();
    EXPECT_EQ(rig.popups.popups.size(), 1u) << "the question";
    EXPECT_EQ(app.link.slaveAddress, 1);
    const int sent = probes;
    runScan(sent + 5);
    EXPECT_EQ(probes, sent + 5) << "after No the scan goes on";

    rig.popups.confirmAnswer = true;
    w.table()->selectRow(2);
    w.useButton()->click();
    EXPECT_FALSE(app.scan.running());
    EXPECT_EQ(app.link.slaveAddress, 44);
    EXPECT_TRUE(w.status()->text().startsWith("The program now polls address 44 on COM1, 19200 baud, even parity"))
        << w.status()->text().toStdString();
}

TEST_F(FindWindowTest, APortAnotherProgramHoldsIsNamedUnderTheListAsSkipped)
{
    rig.com.busy.insert(1);
    tools::FindWindow& w = openFromSettings();
    EXPECT_FALSE(w.skippedPorts()->isVisibleTo(&w));
    w.setPortChoice(1);
    w.start();
    runScan();
    EXPECT_FALSE(app.scan.running());
    EXPECT_EQ(probes, 0);
    EXPECT_TRUE(w.skippedPorts()->isVisibleTo(&w));
    EXPECT_EQ(w.skippedPorts()->text().toStdString(),
              "COM1 (" + platform::ResolveComPort(1) + "): busy, in use by another program — skipped");
    EXPECT_TRUE(w.status()->text().contains("0 transmitters found")) << w.status()->text().toStdString();
}

// The progress window of a long job, over the same headless program with its link waiting as
// the program's does: a restore shows how far it is, and a real click on Cancel stops it
// between two registers.
TEST(JobProgressWindow, ARestoreShowsHowFarItIsAndAClickOnCancelStopsItBetweenTwoRegisters)
{
    test::CwdGuard cwd;
    AppRig rig;
    App& app = rig.app;
    tools::QtToolWindows windows{app};
    windows.progressDelayMs = 0;  // shown as soon as the event loop turns
    app.windows = &windows;
    rig.configurePort(1);
    rig.transmitter();
    // Backed up with these four, which then change.
    const std::pair<int, std::uint16_t> before[] = {{44, 4}, {70, 1200}, {27, 812}, {34, 'B'}};
    const std::pair<int, std::uint16_t> after[] = {{44, 8}, {70, 900}, {27, 700}, {34, 'X'}};
    for (auto [reg, value] : before)
        rig.regs[static_cast<std::size_t>(reg - 1)] = value;
    const int adv = rig.openAdvanced();
    rig.popups.fileAnswer = "tank.json";
    rig.popups.confirmAnswer = true;
    rig.panels.PostEvent(adv, PANEL_3_BACKUP, EVENT_COMMIT);
    for (auto [reg, value] : after)
        rig.regs[static_cast<std::size_t>(reg - 1)] = value;
    rig.asyncLink();
    rig.panels.PostEvent(adv, PANEL_3_RESTORE, EVENT_COMMIT);
    // Time moves until the second register is under way.
    QProgressDialog* progress = nullptr;
    while (rig.clock.nextDue() < 60) {
        rig.clock.advanceTo(rig.clock.nextDue());
        progress = windows.progress();
        if (progress && progress->labelText().contains("(2 of 4)"))
            break;
    }
    ASSERT_NE(progress, nullptr);
    QApplication::processEvents();
    ASSERT_TRUE(progress->isVisible());
    EXPECT_EQ(progress->windowTitle(), "Restore");
    EXPECT_EQ(progress->value(), 1);
    EXPECT_EQ(progress->maximum(), 5);
    auto* cancel = progress->findChild<QPushButton*>();
    ASSERT_NE(cancel, nullptr);
    QTest::mouseClick(cancel, Qt::LeftButton);
    EXPECT_TRUE(app.engine.cancelRequested());
    rig.settle();
    EXPECT_FALSE(progress->isVisible());
    ASSERT_FALSE(rig.popups.popups.empty());
    EXPECT_NE(rig.popups.popups.back().text.find("Restore stopped (cancelled): 2 of 4 registers restored"),
              std::string::npos)
        << rig.popups.popups.back().text;
    EXPECT_EQ(rig.regs[27 - 1], 700) << "the third register was left alone";

    // Run again to its end, the window goes with it, and its Cancel was forgotten.
    rig.panels.PostEvent(adv, PANEL_3_RESTORE, EVENT_COMMIT);
    while (rig.clock.nextDue() < 120 && !progress->isVisible()) {
        rig.clock.advanceTo(rig.clock.nextDue());
        QApplication::processEvents();
    }
    EXPECT_TRUE(progress->isVisible());
    rig.settle();
    EXPECT_FALSE(progress->isVisible());
    EXPECT_NE(rig.popups.popups.back().text.find("2 of 2 registers restored"), std::string::npos)
        << rig.popups.popups.back().text;
}
