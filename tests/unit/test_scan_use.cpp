// Find Transmitter while the user acts: Cancel inside a wait, the polling paused and
// resumed, writes held off, no probe inside another exchange, the button that opens the
// window, "Use" applying and saving, and which ports "every present port" means.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "scan_rig.h"

using namespace vek;
using vek::test::AppRig;
using vek::test::CwdGuard;
using Bytes = AppRig::Bytes;
using vek::test::probeOf;
using vek::test::Slave;

using Scan = test::ScanRig;  // one fixture for the suite, shared by both files

// --- the user acting during the scan ---

TEST_F(Scan, CancelInsideAWaitStopsAfterThatProbe)
{
    slaves.push_back({1, 1, 2, 247});
    ASSERT_TRUE(app.scan.Start(app, {1}));
    for (int i = 0; i < 10; ++i)
        app.scan.Step(app);
    // Pressed while the eleventh probe waits for its reply.
    rig.clock.schedule(rig.clock.now() + 0.02, [this] { app.scan.Cancel(app); });
    EXPECT_EQ(app.scan.Step(app), TransmitterScan::StepResult::Finished);
    EXPECT_EQ(probesSent(), 11);
    EXPECT_FALSE(app.scan.running());
    EXPECT_TRUE(app.scan.cancelled());
    EXPECT_EQ(app.scan.Step(app), TransmitterScan::StepResult::Finished);
    rig.clock.advanceTo(rig.clock.now() + 5);
    EXPECT_EQ(probesSent(), 11) << "nothing more goes out";
    EXPECT_TRUE(app.scan.finds().empty());
}

TEST_F(Scan, PollingPausesDuringTheScanAndResumesOnTheProgramsSettingsAfterIt)
{
    rig.configurePort(1);
    app.link.slaveAddress = 1;
    slaves.push_back({1, 0, 0, 1});
    rig.tick();
    ASSERT_EQ(pollsSent(), 1);
    const int pollCount = app.link.pollCount;
    ASSERT_TRUE(app.scan.Start(app, {1}));
    // The main window's timer fires between probes and inside a probe's wait.
    for (int i = 0; i < 30; ++i) {
        if (i % 3 == 0)
            rig.clock.schedule(rig.clock.now() + 0.01, [this] { rig.tick(); });
        app.scan.Step(app);
        rig.tick();
    }
    EXPECT_EQ(pollsSent(), 1) << "no poll went out during the scan";
    EXPECT_EQ(app.link.pollCount, pollCount);
    EXPECT_EQ(rig.mainMessage(), kMsgScanning);
    EXPECT_EQ(rig.mainLed(), 0);

    app.scan.Cancel(app);
    EXPECT_EQ(rig.com.opens.back().baud, 9600) << "the port is back on the program's line setting";
    EXPECT_EQ(rig.com.opens.back().parity, platform::RS_PARITY_NONE);
    rig.tick();
    EXPECT_EQ(pollsSent(), 2);
    EXPECT_EQ(rig.com.frames.back(), test::expectedPoll(1));
    EXPECT_EQ(app.link.responseValid, 1);
    EXPECT_EQ(rig.mainMessage(), "");
}

TEST_F(Scan, WindowsOpenedAndWritesMadeDuringTheScanPutNothingButProbesOnTheLine)
{
    rig.configurePort(1);
    slaves.push_back({1, 0, 0, 1});
    ASSERT_TRUE(app.scan.Start(app, {1}));
    app.scan.Step(app);
    const std::size_t frames = rig.com.frames.size();
    // The user opens the set-up windows between two probes, and writes from them.
    const int user = rig.openUser();
    const int advanced = rig.openAdvanced();
    ASSERT_TRUE(rig.panels.panel(user) && rig.panels.panel(advanced));
    rig.panels.PostEvent(app.st.panelMain, PANEL_LOGGER, EVENT_COMMIT);
    rig.panels.UserSetValue(user, PANEL_4_MB_BAUD_RATE, 1);
    EXPECT_EQ(rig.com.frames.size(), frames) << "no frame between two probes";
    ASSERT_EQ(rig.popups.popups.size(), 1u);
    EXPECT_NE(rig.popupText(0).find("Find Transmitter"), std::string::npos);
    rig.panels.PostEvent(app.st.panelMain, PANEL_UID, EVENT_LEFT_DOUBLE_CLICK);
    rig.panels.UserSetValue(app.st.panelWriteDialog, WRITE_VAL_WRITE_VALUE, 9);
    rig.panels.PostEvent(app.st.panelWriteDialog, WRITE_VAL_CONF_VAL, EVENT_COMMIT);
    EXPECT_EQ(rig.com.frames.size(), frames);
    EXPECT_EQ(rig.popups.popups.size(), 2u);
    app.scan.Step(app);
    EXPECT_TRUE(std::all_of(rig.com.frames.begin() + static_cast<std::ptrdiff_t>(frames), rig.com.frames.end(),
                            [](const Bytes& f) { return f[1] == 3 && f[5] == 1; }));
}

TEST_F(Scan, NoProbeStartsWhileAnotherExchangeWaitsForItsReply)
{
    rig.configurePort(1);
    slaves.push_back({1, 0, 0, 1});
    const int user = rig.openUser();
    TransmitterScan::StepResult during = TransmitterScan::StepResult::Probed;
    // The window's timer runs inside the write's two-second wait.
    rig.clock.schedule(rig.clock.now() + 0.5, [&] {
        app.scan.Start(app, {1});
        during = app.scan.Step(app);
    });
    rig.panels.UserSetValue(user, PANEL_4_MB_BAUD_RATE, 1);
    EXPECT_EQ(during, TransmitterScan::StepResult::NotNow);
    EXPECT_EQ(probesSent(), 0);
    EXPECT_EQ(app.scan.Step(app), TransmitterScan::StepResult::Probed) << "once the write has ended";
    EXPECT_EQ(probesSent(), 1);
}

TEST_F(Scan, TheButtonOnTheSettingsWindowOpensTheFindWindow)
{
    test::RecordingToolWindows windows;
    app.windows = &windows;
    rig.panels.PostEvent(app.st.panelMain, PANEL_CONFIG_SER_PORT, EVENT_COMMIT);
    rig.panels.PostEvent(app.st.panelRs485, PANEL_2_FIND_TRANSMITTER, EVENT_COMMIT);
    EXPECT_EQ(windows.find, 1);
    app.windows = nullptr;
}

// --- "Use" ---

TEST_F(Scan, UseAppliesPortBaudParityAndAddressToTheProgramAndSavesThem)
{
    rig.configurePort(1);
    slaves.push_back({2, 1, 2, 173, 0x12});
    ASSERT_TRUE(app.scan.Start(app, {2}));
    runToEnd();
    ASSERT_EQ(app.scan.finds().size(), 1u);
    rig.panels.PostEvent(app.st.panelMain, PANEL_CONFIG_SER_PORT, EVENT_COMMIT);  // the settings window is open
    EXPECT_TRUE(UseScanFind(app, app.scan.finds()[0]));

    EXPECT_EQ(app.link.usPortNumber, 2);
    EXPECT_EQ(app.link.ulBaudRate, 1u);
    EXPECT_EQ(app.link.usParity, 2);
    EXPECT_EQ(app.link.slaveAddress, 173);
    int v = -1;
    rig.panels.GetCtrlVal(app.st.panelRs485, PANEL_2_COMPORT, v);
    EXPECT_EQ(v, 2);
    rig.panels.GetCtrlVal(app.st.panelRs485, PANEL_2_BAUD_RATE, v);
    EXPECT_EQ(v, 1);
    rig.panels.GetCtrlVal(app.st.panelRs485, PANEL_2_PARITY, v);
    EXPECT_EQ(v, 2);
    rig.panels.GetCtrlVal(app.st.panelMain, PANEL_SLAVE_ADDRESS, v);
    EXPECT_EQ(v, 173);
    const std::string saved = settingsFile();
    EXPECT_NE(saved.find("COMPORT=2"), std::string::npos) << saved;
    EXPECT_NE(saved.find("BAUD_RATE=1"), std::string::npos) << saved;
    EXPECT_NE(saved.find("PARITY=2"), std::string::npos) << saved;
    EXPECT_TRUE(rig.popups.popups.empty());

    // The running link: the port is open at the new setting and the next poll reaches it.
    ASSERT_TRUE(rig.com.isOpen(2));
    EXPECT_EQ(rig.com.opens.back().baud, 19200);
    EXPECT_EQ(rig.com.opens.back().parity, platform::RS_PARITY_ODD);
    rig.tick();
    EXPECT_EQ(rig.com.frames.back(), test::expectedPoll(173));
    EXPECT_EQ(app.link.responseValid, 1);

    AppRig restarted;  // the next run starts where "Use" left it
    restarted.tick();
    EXPECT_EQ(restarted.app.link.usPortNumber, 2);
    EXPECT_EQ(restarted.app.link.ulBaudRate, 1u);
    EXPECT_EQ(restarted.app.link.usParity, 2);
}

TEST_F(Scan, UseDuringTheScanStopsItAndSavesEvenWithTheSettingsWindowClosed)
{
    slaves.push_back({1, 0, 1, 1, 0x11});
    ASSERT_TRUE(app.scan.Start(app, {1}));
    while (app.scan.finds().empty() && app.scan.running())
        app.scan.Step(app);
    ASSERT_EQ(app.scan.finds().size(), 1u);
    const ScanFind found = app.scan.finds()[0];
    EXPECT_TRUE(UseScanFind(app, found));
    EXPECT_FALSE(app.scan.running());
    EXPECT_NE(settingsFile().find("PARITY=1"), std::string::npos);
    rig.tick();
    EXPECT_EQ(rig.com.frames.back(), test::expectedPoll(1));
    EXPECT_EQ(app.link.responseValid, 1) << "polling resumed at the found setting";
}

TEST(ScanPorts, EveryPresentPortIsTheComPortsWhoseDeviceExists)
{
    CwdGuard cwd;
    {
        std::ofstream("adapter1");
    }
    {
        std::ofstream("adapter3");
    }
    const std::string here = std::filesystem::current_path().string();
    std::vector<std::pair<std::string, std::string>> saved;
    for (int n = 1; n <= 9; ++n) {
        const std::string var = "VEK_COM" + std::to_string(n);
        const char* old = std::getenv(var.c_str());
        saved.emplace_back(var, old ? old : "");
        // Ports 1 and 3 exist; every other one names a device that is not there.
        const std::string path = here + (n == 1 ? "/adapter1" : n == 3 ? "/adapter3" : "/missing" + std::to_string(n));
        setenv(var.c_str(), path.c_str(), 1);
    }
    EXPECT_EQ(PresentComPorts(), (std::vector<int>{1, 3}));
    for (const auto& [var, value] : saved) {
        if (value.empty())
            unsetenv(var.c_str());
        else
            setenv(var.c_str(), value.c_str(), 1);
    }
}

TEST_F(Scan, UseOfASerialFindReplacesANetworkConnectionChosenBefore)
{
    rig.configurePort(1);
    const int rs = chooseGateway(1, "10.0.0.5", 502);
    ASSERT_EQ(app.link.deviceName, "rtu-tcp://10.0.0.5:502");
    slaves.push_back({2, 0, 0, 9, 0x12});
    ASSERT_TRUE(app.scan.Start(app, {2}));
    runToEnd();
    ASSERT_EQ(app.scan.finds().size(), 1u);
    EXPECT_TRUE(UseScanFind(app, app.scan.finds()[0]));
    EXPECT_EQ(app.link.deviceName, "");
    EXPECT_EQ(app.st.network.kind, 0);
    int ring = -1;
    rig.panels.GetCtrlVal(rs, PANEL_2_CONNECTION, ring);
    EXPECT_EQ(ring, 0);
    EXPECT_NE(settingsFile().find("CONNECTION=0"), std::string::npos) << settingsFile();
    EXPECT_EQ(rig.com.openNames.back(), "") << "the link reopened on the serial port found";
    rig.tick();
    EXPECT_EQ(rig.com.frames.back(), test::expectedPoll(9));
}

TEST_F(Scan, AGatewayIsScannedForEveryAddressThroughItsConnectionAndUseKeepsIt)
{
    rig.configurePort(1);
    const int rs = chooseGateway(2, "10.0.0.5", 1502);
    const std::string gateway = "modbus-tcp://10.0.0.5:1502";
    slaves.push_back({1, 0, 0, 173, 0x12});
    // Another slave behind the gateway that the gateway reports missing, and one that refuses.
    slaves.push_back({1, 0, 0, 20, 0x11, Slave::Fault::Exception, 11});
    slaves.push_back({1, 0, 0, 40, 0x11, Slave::Fault::Exception, 2});
    rig.com.connectingOpens = 3;  // the connection takes a while to be made
    const std::size_t opensBefore = rig.com.opens.size();
    ASSERT_TRUE(app.scan.StartGateway(app));
    EXPECT_EQ(app.scan.TryingText(), "Modbus TCP to 10.0.0.5:1502, address 1");
    runToEnd();
    EXPECT_EQ(app.scan.done(), 247u);
    EXPECT_TRUE(app.scan.skipped().empty()) << "a connection still being made is waited for";
    EXPECT_EQ(probesSent(), 247);
    EXPECT_FALSE(rig.com.isClaimed(1)) << "nothing to claim on a gateway";
    for (std::size_t i = opensBefore; i + 1 < rig.com.opens.size(); ++i)
        EXPECT_EQ(rig.com.openNames[i], gateway) << i;
    ASSERT_EQ(app.scan.finds().size(), 2u);
    const ScanFind& found = app.scan.finds()[0];
    EXPECT_EQ(found.kind, ScanFindKind::Refused);
    EXPECT_EQ(found.at.address, 40);
    const ScanFind& transmitter = app.scan.finds()[1];
    EXPECT_EQ(transmitter.kind, ScanFindKind::Transmitter);
    EXPECT_EQ(transmitter.at, (ScanProbe{1, 0, 0, 173, true}));
    EXPECT_EQ(transmitter.linkDevice, gateway);

    // The window shows the serial port meanwhile: Use takes the gateway the find came through.
    rig.panels.UserSetValue(rs, PANEL_2_CONNECTION, 0);
    app.link.ulBaudRate = 1;
    EXPECT_TRUE(UseScanFind(app, transmitter));
    EXPECT_EQ(app.link.deviceName, gateway);
    EXPECT_EQ(app.link.slaveAddress, 173);
    EXPECT_EQ(app.link.ulBaudRate, 1u) << "the serial line settings are left as they were";
    int ring = -1;
    rig.panels.GetCtrlVal(rs, PANEL_2_CONNECTION, ring);
    EXPECT_EQ(ring, 2);
    EXPECT_NE(settingsFile().find("CONNECTION=2"), std::string::npos) << settingsFile();
    EXPECT_NE(settingsFile().find("NET_PORT=1502"), std::string::npos) << settingsFile();
    rig.tick();
    EXPECT_EQ(rig.com.openNames.back(), gateway);
    EXPECT_EQ(rig.com.frames.back(), test::expectedPoll(173));
}

TEST_F(Scan, AGatewayThatCannotBeReachedIsNamedAndTheScanEndsAndCancelWhileConnectingBlamesNothing)
{
    rig.configurePort(1);
    app.st.network = {1, "10.0.0.9", 502};
    ApplyNetworkSettings(app);
    EXPECT_FALSE(app.scan.Start(app, {}));
    rig.com.absent.insert(1);
    ASSERT_TRUE(app.scan.StartGateway(app));
    runToEnd();
    EXPECT_EQ(probesSent(), 0);
    EXPECT_EQ(app.scan.skipped(),
              (std::vector<std::string>{"RTU over TCP to 10.0.0.9:502: Cannot open port — skipped"}));
    // Cancelled while the connection is being made: nothing sent, and nothing blamed on it.
    rig.com.absent.clear();
    rig.com.connectingOpens = 1000;
    ASSERT_TRUE(app.scan.StartGateway(app));
    rig.clock.schedule(rig.clock.now() + 0.3, [this] { app.scan.Cancel(app); });
    runToEnd();
    EXPECT_TRUE(app.scan.cancelled());
    EXPECT_TRUE(app.scan.skipped().empty());
    EXPECT_EQ(probesSent(), 0);
    rig.com.connectingOpens = 0;
    app.st.network.kind = 0;
    EXPECT_FALSE(app.scan.StartGateway(app)) << "no gateway in the settings, no gateway scan";
}
