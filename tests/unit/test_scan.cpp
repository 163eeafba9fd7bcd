// Find Transmitter's scan on the in-memory line and the virtual clock: the order of the
// probes and what a reply means; transmitters that only answer at their own line setting and
// address, found where they are; "something answered"; a port that cannot be opened or that
// another program holds; every port given back as the scan found it.
#include <gtest/gtest.h>

#include <set>
#include <tuple>

#include "scan_rig.h"

using namespace vek;
using vek::test::AppRig;
using vek::test::CwdGuard;
using Bytes = AppRig::Bytes;
using vek::test::probeOf;
using vek::test::Slave;

using Scan = test::ScanRig;  // one fixture for the suite, shared by both files

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

TEST(ScanPlan, AGatewayIsEveryAddressOnceTheSavedOneFirstWithinThirtySeconds)
{
    const auto plan = GatewayScanPlan(2, 30);
    ASSERT_EQ(plan.size(), 247u);
    EXPECT_EQ(plan[0], (ScanProbe{2, 0, 0, 30, true}));
    EXPECT_EQ(plan[1].address, 1);
    std::set<int> addresses;
    double waits = 0;
    for (const ScanProbe& p : plan) {
        EXPECT_TRUE(p.gateway && p.port == 2);
        addresses.insert(p.address);
        waits += ProbeWait(p);
    }
    EXPECT_EQ(addresses.size(), 247u);
    EXPECT_EQ(*addresses.begin(), 1);
    EXPECT_EQ(*addresses.rbegin(), 247);
    EXPECT_LT(waits, 26.0) << "the waits of a whole gateway scan";
    const auto unsaved = GatewayScanPlan(1, 0);
    ASSERT_EQ(unsaved.size(), 247u);
    EXPECT_EQ(unsaved.front().address, 1);
    EXPECT_EQ(LineText(unsaved.front()), "the gateway");
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

    Bytes big = AppRig::withCrc({5, 3, 2, 0x01, 0x02});
    f = ClassifyProbeReply(at, big.data(), big.size());
    EXPECT_EQ(f->modelCode, 0x0102) << "high byte first";
    EXPECT_EQ(f->what, "model code 258");

    Bytes bad = good;
    bad[4] ^= 1;
    f = ClassifyProbeReply(at, bad.data(), bad.size());
    EXPECT_EQ(f->kind, ScanFindKind::Damaged);

    Bytes other = AppRig::withCrc({6, 3, 2, 0, 0x11});
    f = ClassifyProbeReply(at, other.data(), other.size());
    EXPECT_EQ(f->kind, ScanFindKind::OtherAddress);
    EXPECT_EQ(f->answeredAddress, 6);

    Bytes refused = AppRig::withCrc({5, 0x83, 2});
    f = ClassifyProbeReply(at, refused.data(), refused.size());
    EXPECT_EQ(f->kind, ScanFindKind::Refused);
    EXPECT_EQ(f->exceptionCode, 2);
    EXPECT_NE(f->what.find("Illegal data address"), std::string::npos);

    // A gateway that found nobody at the address says so: no row.
    for (std::uint8_t code : {10, 11}) {
        Bytes nobody = AppRig::withCrc({5, 0x83, code});
        EXPECT_FALSE(ClassifyProbeReply(at, nobody.data(), nobody.size()).has_value()) << int(code);
    }

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

TEST_F(Scan, APortThatCannotBeOpenedOrThatAnotherProgramHoldsIsNamedAndSkippedAndTheOthersAreScanned)
{
    rig.com.absent.insert(2);
    rig.com.busy.insert(4);
    slaves.push_back({3, 0, 1, 7});
    ASSERT_TRUE(app.scan.Start(app, {2, 3, 4}));
    runToEnd();
    EXPECT_EQ(app.scan.skipped(), (std::vector<std::string>{"COM2: Cannot open port — skipped",
                                                            "COM4 (" + platform::ResolveComPort(4) +
                                                                "): busy, in use by another program — skipped"}));
    EXPECT_TRUE(std::none_of(rig.com.opens.begin(), rig.com.opens.end(), [](const platform::MemoryRs232::OpenCall& o) {
        return o.port == 4;
    })) << "the busy port's line settings are never touched";
    EXPECT_EQ(app.scan.total(), 6u * 247u);
    EXPECT_EQ(app.scan.done(), 6u * 247u);
    ASSERT_EQ(app.scan.finds().size(), 1u);
    EXPECT_EQ(app.scan.finds()[0].at.port, 3);
    EXPECT_FALSE(rig.com.isOpen(3)) << "a port the program does not use is closed after the scan";
}

// How a scan ends; each way, every port it took must be given back.
enum class Ending { Done, Cancelled, PortFailed };
std::string NameOf(Ending e)
{
    return e == Ending::Done ? "Done" : e == Ending::Cancelled ? "Cancelled" : "PortFailed";
}
void PrintTo(Ending e, std::ostream* os) { *os << NameOf(e); }

class ScanGivesPortsBack : public test::ScanRig, public ::testing::WithParamInterface<Ending> {};

TEST_P(ScanGivesPortsBack, WithTheLineSettingsTheyHadAndNoLongerHeld)
{
    using Line = platform::MemoryRs232::OpenCall;
    // COM3 was left at 9600 baud, 7 data bits, even parity, 2 stop bits by another program.
    rig.com.OpenComConfig(3, "", 9600, platform::RS_PARITY_EVEN, 7, 2, 512, -1);
    rig.com.CloseCom(3);
    const Line before{3, 9600, platform::RS_PARITY_EVEN, 7, 2};
    rig.configurePort(1);  // the program polls COM1 at 19200 baud, odd parity
    app.link.ulBaudRate = 1;
    app.link.usParity = 2;
    rig.tick();
    ASSERT_TRUE(app.scan.Start(app, {1, 3}));
    for (int i = 0; i < 20; ++i)
        app.scan.Step(app);
    EXPECT_TRUE(rig.com.isClaimed(1) && rig.com.isClaimed(3)) << "both taken by their first probe";
    switch (GetParam()) {
    case Ending::Done: runToEnd(); break;
    case Ending::Cancelled: app.scan.Cancel(app); break;
    case Ending::PortFailed:
        rig.com.absent.insert(3);  // the adapter is pulled out during the scan
        runToEnd();
        EXPECT_EQ(app.scan.skipped().size(), 1u);
        break;
    }
    EXPECT_FALSE(rig.com.isClaimed(1));
    EXPECT_FALSE(rig.com.isClaimed(3));
    EXPECT_EQ(rig.com.line(3), before);
    EXPECT_FALSE(rig.com.isOpen(3));
    EXPECT_TRUE(rig.com.isOpen(1)) << "the program's own port is the program's again";
    EXPECT_EQ(rig.com.line(1), (Line{1, 19200, platform::RS_PARITY_ODD, 8, 1}));
}

INSTANTIATE_TEST_SUITE_P(Endings, ScanGivesPortsBack,
                         ::testing::Values(Ending::Done, Ending::Cancelled, Ending::PortFailed),
                         [](const ::testing::TestParamInfo<Ending>& i) { return NameOf(i.param); });

TEST_F(Scan, APortIsGivenBackOnceItsLastProbeHasRunWhileOthersAreStillScanned)
{
    rig.com.OpenComConfig(2, "", 19200, platform::RS_PARITY_ODD, 8, 2, 512, -1);
    rig.com.CloseCom(2);
    ASSERT_TRUE(app.scan.Start(app, {2, 3}));
    const auto& plan = app.scan.plan();
    const auto lastOn2 = std::find_if(plan.rbegin(), plan.rend(), [](const ScanProbe& p) { return p.port == 2; });
    const std::size_t steps = static_cast<std::size_t>(plan.rend() - lastOn2);
    for (std::size_t i = 0; i + 1 < steps; ++i)
        app.scan.Step(app);
    EXPECT_TRUE(rig.com.isClaimed(2)) << "held up to its last probe";
    app.scan.Step(app);
    EXPECT_FALSE(rig.com.isClaimed(2));
    EXPECT_FALSE(rig.com.isOpen(2));
    EXPECT_EQ(rig.com.line(2), (platform::MemoryRs232::OpenCall{2, 19200, platform::RS_PARITY_ODD, 8, 2}));
    EXPECT_TRUE(rig.com.isClaimed(3));
    EXPECT_TRUE(app.scan.running());
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
