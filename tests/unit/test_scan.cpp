// Find Transmitter's scan on the in-memory line and the virtual clock: transmitters that only
// answer at their own line setting and address, found where they are; the order of the
// probes and their bytes; Cancel inside a wait; the polling paused and resumed; writes held
// off; "something answered"; "Use" applying and saving.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <tuple>

#include "app_rig.h"
#include "cwd_guard.h"
#include "register_map.h"

using namespace vek;
using vek::test::AppRig;
using vek::test::CwdGuard;

namespace {

using Bytes = AppRig::Bytes;

// One slave on the line. It hears only frames sent at its own baud rate and parity (on a
// real line the others arrive as garbage and fail its CRC check) and answers its address.
struct Slave {
    int port = 1;
    int baud = 0, parity = 0;  // selectors, as the link keeps them
    int address = 1;
    std::uint16_t model = 0x11;
    enum class Fault { None, BadCrc, OtherAddress, Exception } fault = Fault::None;
};

// The request a probe of `address` must put on the wire: read one register, register 68
// (wire address 67), with a CRC from the bitwise reference.
Bytes probeOf(std::uint8_t address)
{
    Bytes f = {address, 3, 0, 67, 0, 1};
    const std::uint16_t crc = test::referenceCrc(f.data(), f.size());
    f.push_back(static_cast<std::uint8_t>(crc));
    f.push_back(static_cast<std::uint8_t>(crc >> 8));
    return f;
}

struct Scan : ::testing::Test {
    CwdGuard cwd;
    AppRig rig;
    App& app = rig.app;
    std::vector<Slave> slaves;
    int answered = 0;  // replies the slaves sent

    void SetUp() override
    {
        rig.com.peer = [this](int port, const Bytes& f) { hear(port, f); };
    }

    // The line setting port `port` was last opened with.
    std::pair<int, int> lineOf(int port) const
    {
        for (auto it = rig.com.opens.rbegin(); it != rig.com.opens.rend(); ++it)
            if (it->port == port)
                return {it->baud == 19200 ? 1 : 0, it->parity == platform::RS_PARITY_EVEN  ? 1
                                                   : it->parity == platform::RS_PARITY_ODD ? 2
                                                                                           : 0};
        return {-1, -1};
    }

    void hear(int port, const Bytes& f)
    {
        if (f.size() != 8 || usMBCRC16(f.data(), f.size()) != 0)
            return;
        const auto [baud, parity] = lineOf(port);
        for (const Slave& s : slaves) {
            if (s.port != port || s.baud != baud || s.parity != parity || s.address != f[0])
                continue;
            Bytes reply;
            if (f[1] == 3 && f[5] == reg::kPolled) {
                reply = rig.pollReplyFrom(f[0]);
            } else if (f[1] == 3 && f[5] == 1) {
                const std::uint16_t v = f[3] == reg::kSensorType - 1 ? s.model : 0;
                reply = AppRig::withCrc({f[0], 3, 2, static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)});
            } else {
                continue;
            }
            switch (s.fault) {
            case Slave::Fault::None: break;
            case Slave::Fault::BadCrc: reply.back() ^= 0x5A; break;
            case Slave::Fault::OtherAddress:
                reply = AppRig::withCrc({static_cast<std::uint8_t>(f[0] + 1), 3, 2, 0, 17});
                break;
            case Slave::Fault::Exception: reply = AppRig::withCrc({f[0], 0x83, 2}); break;
            }
            ++answered;
            // The reply starts after the request's 3.5-character silence and takes its wire time.
            rig.com.injectAfter(port, 0.004 + 0.008 * (baud == 0 ? 1 : 0.5), reply);
        }
    }

    void runToEnd()
    {
        for (int guard = 0; guard < 100000; ++guard)
            if (app.scan.Step(app) == TransmitterScan::StepResult::Finished)
                return;
        FAIL() << "the scan never ended";
    }

    std::vector<ScanFind> findsOf(ScanFindKind kind) const
    {
        std::vector<ScanFind> out;
        for (const ScanFind& f : app.scan.finds())
            if (f.kind == kind)
                out.push_back(f);
        return out;
    }

    int probesSent() const
    {
        return static_cast<int>(std::count_if(rig.com.frames.begin(), rig.com.frames.end(),
                                              [](const Bytes& f) { return f.size() == 8 && f[1] == 3 && f[5] == 1; }));
    }
    int pollsSent() const
    {
        return static_cast<int>(std::count_if(rig.com.frames.begin(), rig.com.frames.end(), [](const Bytes& f) {
            return f.size() == 8 && f[1] == 3 && f[5] == reg::kPolled;
        }));
    }

    std::string settingsFile() const
    {
        std::ifstream in("RS_Settings");
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
};

}  // namespace

// --- the plan ---

// After the saved one, the line settings go in this order.
constexpr std::pair<int, int> kLineOrder[6] = {{0, 0}, {0, 1}, {0, 2}, {1, 0}, {1, 1}, {1, 2}};

TEST(ScanPlan, OnePortIsEveryAddressAtEveryLineSettingOnceTheSavedPlaceFirstThenAddress1)
{
    const ScanProbe saved{1, 1, 2, 9};  // 19200 odd, address 9
    const auto plan = ScanPlan({1}, saved);
    ASSERT_EQ(plan.size(), 6u * 247u);
    std::set<std::tuple<int, int, int, int>> places;
    for (const ScanProbe& p : plan) {
        EXPECT_EQ(p.port, 1);
        EXPECT_GE(p.address, 1);
        EXPECT_LE(p.address, 247);
        places.insert({p.port, p.baud, p.parity, p.address});
    }
    EXPECT_EQ(places.size(), plan.size()) << "no place is probed twice";
    EXPECT_EQ(plan[0], saved);
    std::set<std::pair<int, int>> lines;
    for (std::size_t i = 1; i <= 6; ++i) {
        EXPECT_EQ(plan[i].address, 1) << i;
        lines.insert({plan[i].baud, plan[i].parity});
    }
    EXPECT_EQ(lines.size(), 6u) << "address 1 at all six line settings comes right after the saved place";
    EXPECT_EQ(plan[1].baud, 1);
    EXPECT_EQ(plan[1].parity, 2) << "the saved line setting goes first";
    EXPECT_EQ(plan[7].baud, 1);
    EXPECT_EQ(plan[7].parity, 2);
    EXPECT_EQ(plan[7].address, 2) << "then the rest, the saved line setting first";
}

TEST(ScanPlan, SeveralPortsTakeTheSavedPortFirstAndAPortOutsideTheListIsNotProbed)
{
    const auto plan = ScanPlan({2, 3}, ScanProbe{3, 0, 0, 1});
    ASSERT_EQ(plan.size(), 2u * 6u * 247u);
    EXPECT_EQ(plan[0], (ScanProbe{3, 0, 0, 1}));
    EXPECT_EQ(plan[1], (ScanProbe{2, 0, 0, 1})) << "the saved settings on every port: the adapter may have moved";
    for (std::size_t i = 2; i <= 6; ++i) {
        EXPECT_EQ(plan[i].port, 3) << "address 1 everywhere on the saved port before the next port";
        EXPECT_EQ(plan[i].address, 1);
    }
    for (std::size_t i = 7; i <= 11; ++i)
        EXPECT_EQ(plan[i], (ScanProbe{2, kLineOrder[i - 6].first, kLineOrder[i - 6].second, 1}));
    const auto other = ScanPlan({4}, ScanProbe{1, 1, 1, 30});
    ASSERT_EQ(other.size(), 6u * 247u);
    EXPECT_TRUE(std::all_of(other.begin(), other.end(), [](const ScanProbe& p) { return p.port == 4; }));
    EXPECT_EQ(other[0], (ScanProbe{4, 1, 1, 30})) << "the saved line and address are still the likely place";
    EXPECT_TRUE(ScanPlan({}, ScanProbe{1, 0, 0, 1}).empty());
}

TEST(ScanPlan, TheWaitFollowsTheWireTimeAtEachBaudRateAndKeepsAFullScanUnderThreeMinutes)
{
    // 18.5 characters of 11 bits (request, silence, reply) plus the margin.
    EXPECT_NEAR(ProbeWait(0), 18.5 * 11 / 9600 + 0.050, 1e-9);
    EXPECT_NEAR(ProbeWait(1), 18.5 * 11 / 19200 + 0.050, 1e-9);
    double whole = 0, toLastLineAddress1 = 0;
    const auto plan = ScanPlan({1}, ScanProbe{1, 0, 0, 1});
    for (std::size_t i = 0; i < plan.size(); ++i) {
        whole += ProbeWait(plan[i].baud);
        if (i <= 6)
            toLastLineAddress1 += ProbeWait(plan[i].baud);
    }
    EXPECT_LT(whole, 150.0) << "the waits alone of a one-port scan";
    EXPECT_LT(toLastLineAddress1, 1.0);
}

TEST(ScanClassify, WhatCameBackDecidesTheRow)
{
    const ScanProbe at{1, 0, 0, 5};
    EXPECT_FALSE(ClassifyProbeReply(at, nullptr, 0).has_value()) << "silence is no row";

    Bytes good = AppRig::withCrc({5, 3, 2, 0, 0x12});
    auto f = ClassifyProbeReply(at, good.data(), good.size());
    ASSERT_TRUE(f);
    EXPECT_EQ(f->kind, ScanFindKind::Transmitter);
    EXPECT_EQ(f->modelCode, 0x12);
    EXPECT_EQ(f->what, "Gauge 8m (model code 18)");
    EXPECT_TRUE(f->usable());

    Bytes big = AppRig::withCrc({5, 3, 2, 0x01, 0x02});
    f = ClassifyProbeReply(at, big.data(), big.size());
    EXPECT_EQ(f->modelCode, 0x0102) << "high byte first";
    EXPECT_EQ(f->what, "model code 258");

    Bytes bad = good;
    bad[4] ^= 1;
    f = ClassifyProbeReply(at, bad.data(), bad.size());
    EXPECT_EQ(f->kind, ScanFindKind::Damaged);
    EXPECT_FALSE(f->usable());

    Bytes other = AppRig::withCrc({6, 3, 2, 0, 0x11});
    f = ClassifyProbeReply(at, other.data(), other.size());
    EXPECT_EQ(f->kind, ScanFindKind::OtherAddress);
    EXPECT_EQ(f->answeredAddress, 6);
    EXPECT_FALSE(f->usable());

    Bytes refused = AppRig::withCrc({5, 0x83, 2});
    f = ClassifyProbeReply(at, refused.data(), refused.size());
    EXPECT_EQ(f->kind, ScanFindKind::Refused);
    EXPECT_NE(f->what.find("Illegal data address"), std::string::npos);
    EXPECT_TRUE(f->usable());

    Bytes wrongCount = AppRig::withCrc({5, 3, 4, 0, 1, 0, 2});
    EXPECT_EQ(ClassifyProbeReply(at, wrongCount.data(), wrongCount.size())->kind, ScanFindKind::Damaged);
    const std::uint8_t one = 0xFF;
    EXPECT_EQ(ClassifyProbeReply(at, &one, 1)->kind, ScanFindKind::Damaged);
}

// --- finding ---

TEST_F(Scan, FindsATransmitterAtANonDefaultAddressAndLineSettingWithTheRightProbe)
{
    slaves.push_back({1, 1, 2, 173, 0x12});  // 19200 odd, address 173
    ASSERT_TRUE(app.scan.Start(app, {1}));
    runToEnd();
    EXPECT_FALSE(app.scan.running());
    EXPECT_EQ(app.scan.done(), 6u * 247u);
    ASSERT_EQ(app.scan.finds().size(), 1u);
    const ScanFind& f = app.scan.finds()[0];
    EXPECT_EQ(f.kind, ScanFindKind::Transmitter);
    EXPECT_EQ(f.at, (ScanProbe{1, 1, 2, 173}));
    EXPECT_EQ(f.modelCode, 0x12);
    EXPECT_EQ(f.device, rig.com.DevicePath(1).empty() ? platform::ResolveComPort(1) : rig.com.DevicePath(1));
    EXPECT_EQ(answered, 1);
    // Every probe is the read of the model register, byte for byte.
    const auto it = std::find(rig.com.frames.begin(), rig.com.frames.end(), probeOf(173));
    EXPECT_NE(it, rig.com.frames.end());
    EXPECT_EQ(probesSent(), 6 * 247);
    EXPECT_EQ(pollsSent(), 0);
}

TEST_F(Scan, FindsAddress1AtTheLastLineSettingWithinTheFirstSevenProbes)
{
    rig.configurePort(1);  // saved: COM1, 9600, no parity
    slaves.push_back({1, 1, 2, 1});
    ASSERT_TRUE(app.scan.Start(app, {1}));
    const double t0 = rig.clock.now();
    for (int i = 0; i < 7 && app.scan.finds().empty(); ++i)
        app.scan.Step(app);
    ASSERT_EQ(app.scan.finds().size(), 1u);
    EXPECT_EQ(app.scan.finds()[0].at, (ScanProbe{1, 1, 2, 1}));
    EXPECT_LT(rig.clock.now() - t0, 1.0);
    EXPECT_TRUE(app.scan.running()) << "the scan goes on: there may be more";
}

TEST_F(Scan, TwoTransmittersOnOneLineAreBothListedAsTheyAreFound)
{
    slaves.push_back({1, 0, 0, 200, 0x41});
    slaves.push_back({1, 0, 0, 3, 0x11});
    ASSERT_TRUE(app.scan.Start(app, {1}));
    runToEnd();
    const auto found = findsOf(ScanFindKind::Transmitter);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].at.address, 3);
    EXPECT_EQ(found[1].at.address, 200);
    EXPECT_EQ(found[1].what, "Flowgauge 5m (model code 65)");
}

TEST_F(Scan, ABadCrcOrAnotherAddressIsListedAsSomethingAnsweredWithItsSettings)
{
    slaves.push_back({1, 1, 1, 20, 0x11, Slave::Fault::BadCrc});
    slaves.push_back({1, 0, 2, 40, 0x11, Slave::Fault::OtherAddress});
    slaves.push_back({1, 0, 0, 60, 0x11, Slave::Fault::Exception});
    ASSERT_TRUE(app.scan.Start(app, {1}));
    runToEnd();
    const auto damaged = findsOf(ScanFindKind::Damaged);
    ASSERT_EQ(damaged.size(), 1u);
    EXPECT_EQ(damaged[0].at, (ScanProbe{1, 1, 1, 20}));
    EXPECT_EQ(damaged[0].bytes.size(), 7u);
    const auto other = findsOf(ScanFindKind::OtherAddress);
    ASSERT_EQ(other.size(), 1u);
    EXPECT_EQ(other[0].at, (ScanProbe{1, 0, 2, 40}));
    EXPECT_EQ(other[0].answeredAddress, 41);
    const auto refused = findsOf(ScanFindKind::Refused);
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(refused[0].at, (ScanProbe{1, 0, 0, 60}));
}

TEST_F(Scan, APortThatCannotBeOpenedIsNamedAndSkippedAndTheOthersAreScanned)
{
    rig.com.absent.insert(2);
    slaves.push_back({3, 0, 1, 7});
    ASSERT_TRUE(app.scan.Start(app, {2, 3}));
    runToEnd();
    ASSERT_EQ(app.scan.portErrors().size(), 1u);
    EXPECT_EQ(app.scan.portErrors()[0].rfind("COM2: ", 0), 0u);
    EXPECT_EQ(app.scan.total(), 6u * 247u);
    EXPECT_EQ(app.scan.done(), 6u * 247u);
    ASSERT_EQ(app.scan.finds().size(), 1u);
    EXPECT_EQ(app.scan.finds()[0].at.port, 3);
    EXPECT_FALSE(rig.com.isOpen(3)) << "a port the program does not use is closed after the scan";
}

TEST_F(Scan, TimeLeftIsTheWaitsStillToComeAndReachesZero)
{
    ASSERT_TRUE(app.scan.Start(app, {1}));
    double planned = 0;
    for (const ScanProbe& p : app.scan.plan())
        planned += ProbeWait(p.baud);
    EXPECT_NEAR(app.scan.SecondsLeft(), planned, 1e-6);
    for (int i = 0; i < 100; ++i)
        app.scan.Step(app);
    EXPECT_LT(app.scan.SecondsLeft(), planned - 5.0);
    EXPECT_EQ(app.scan.TryingText().rfind("COM1, ", 0), 0u);
    runToEnd();
    EXPECT_NEAR(app.scan.SecondsLeft(), 0.0, 1e-9);
    EXPECT_FALSE(app.scan.Start(app, {})) << "nothing to scan starts nothing";
}

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

TEST_F(Scan, AWriteFromAnotherWindowDuringTheScanIsRefusedAndNeverReachesTheLine)
{
    rig.configurePort(1);
    slaves.push_back({1, 0, 0, 1});
    const int user = rig.openUser();
    ASSERT_TRUE(app.scan.Start(app, {1}));
    app.scan.Step(app);
    const std::size_t frames = rig.com.frames.size();
    rig.panels.UserSetValue(user, PANEL_4_MB_BAUD_RATE, 1);
    EXPECT_EQ(rig.com.frames.size(), frames) << "no write frame between two probes";
    ASSERT_EQ(rig.popups.popups.size(), 1u);
    EXPECT_NE(rig.popupText(0).find("Find Transmitter"), std::string::npos);
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
    struct Windows : ToolWindows {
        int find = 0;
        void ShowTraffic() override {}
        void ShowTrend() override {}
        void ShowFindTransmitter() override { ++find; }
    } windows;
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
