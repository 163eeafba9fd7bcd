// What each kind of answer to a probe becomes: a transmitter, counted and taken by "Use", or
// something that answered, listed with what it said and not counted; "Use" asks before it
// takes a slave that refused the read, and says why it cannot take the others.
#include <gtest/gtest.h>

#include "scan_rig.h"

using namespace vek;
using vek::test::Slave;

using Scan = test::ScanRig;

namespace {

struct AnswerCase {
    const char* name;
    Slave::Fault fault;
    std::uint8_t exception;
    ScanFindKind kind;
    const char* listed;   // the row's "Model / what answered"
    const char* counted;  // the scan's summary
    ScanUse use;
    ScanUseOutcome outcome;  // of "Use" answered No, were it asked
};

void PrintTo(const AnswerCase& c, std::ostream* os) { *os << c.name; }

constexpr const char* kSomethingElse = "0 transmitters found, and something else answered 1 time: see the orange rows";

const AnswerCase kAnswers[] = {
    {"ModelReply", Slave::Fault::None, 0, ScanFindKind::Transmitter, "Gauge 5m (model code 17)", "1 transmitter found",
     ScanUse::Take, ScanUseOutcome::Used},
    {"Exception1", Slave::Fault::Exception, 1, ScanFindKind::Refused,
     "something answered: exception 1 (Illegal function) to the read of the model register", kSomethingElse,
     ScanUse::Ask, ScanUseOutcome::Declined},
    {"Exception2", Slave::Fault::Exception, 2, ScanFindKind::Refused,
     "something answered: exception 2 (Illegal data address) to the read of the model register", kSomethingElse,
     ScanUse::Ask, ScanUseOutcome::Declined},
    {"Exception3", Slave::Fault::Exception, 3, ScanFindKind::Refused,
     "something answered: exception 3 (Illegal data value) to the read of the model register", kSomethingElse,
     ScanUse::Ask, ScanUseOutcome::Declined},
    {"Exception4", Slave::Fault::Exception, 4, ScanFindKind::Refused,
     "something answered: exception 4 (Slave device failure) to the read of the model register", kSomethingElse,
     ScanUse::Ask, ScanUseOutcome::Declined},
    {"WrongAddress", Slave::Fault::OtherAddress, 0, ScanFindKind::OtherAddress,
     "something answered: a frame from address 6 to the probe of address 5", kSomethingElse, ScanUse::Refuse,
     ScanUseOutcome::Refused},
    {"Damaged", Slave::Fault::BadCrc, 0, ScanFindKind::Damaged,
     "something answered: 7 bytes that make no frame (bad CRC or wrong length)", kSomethingElse, ScanUse::Refuse,
     ScanUseOutcome::Refused},
};

// One slave at COM1, 9600 baud, no parity, address 5, answering as the case says; the scan
// runs until it has answered, then is cancelled.
void scanUntilAnswered(test::ScanRig& r, const AnswerCase& c)
{
    r.slaves.push_back({1, 0, 0, 5, 0x11, c.fault, c.exception});
    ASSERT_TRUE(r.app.scan.Start(r.app, {1}));
    while (r.app.scan.running() && r.app.scan.finds().empty())
        r.app.scan.Step(r.app);
    r.app.scan.Cancel(r.app);
}

}  // namespace

class ScanAnswers : public test::ScanRig, public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(ScanAnswers, EachAnswerIsCountedListedAndUsedByItsKind)
{
    const AnswerCase& c = GetParam();
    rig.configurePort(2);  // the program polls address 1 on COM2 at 9600 baud, no parity
    scanUntilAnswered(*this, c);
    ASSERT_EQ(app.scan.finds().size(), 1u);
    const ScanFind f = app.scan.finds()[0];
    EXPECT_EQ(f.kind, c.kind);
    EXPECT_EQ(f.at, (ScanProbe{1, 0, 0, 5}));
    EXPECT_EQ(f.what, c.listed);
    EXPECT_EQ(app.scan.transmitters(), c.kind == ScanFindKind::Transmitter ? 1 : 0);
    EXPECT_EQ(app.scan.FoundText(), c.counted);
    EXPECT_EQ(ScanUseOf(f), c.use);

    // "Use", answered No if it asks.
    rig.popups.confirmAnswer = false;
    EXPECT_EQ(UseScanFindAsked(app, f), c.outcome);
    const bool taken = c.outcome == ScanUseOutcome::Used;
    EXPECT_EQ(app.link.usPortNumber, taken ? 1 : 2);
    EXPECT_EQ(app.link.slaveAddress, taken ? 5 : 1);
    EXPECT_EQ(settingsFile().empty(), !taken) << "only a find taken is saved";
    ASSERT_EQ(rig.popups.popups.size(), c.use == ScanUse::Take ? 0u : 1u);
    if (c.use != ScanUse::Take) {
        EXPECT_EQ(rig.popupText(0), ScanUseText(f));
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, ScanAnswers, ::testing::ValuesIn(kAnswers),
                         [](const ::testing::TestParamInfo<AnswerCase>& i) { return std::string(i.param.name); });

TEST_F(Scan, WhyUseRefusesOrAsksNamesTheSettingsAndWhatAnswered)
{
    const ScanProbe at{3, 1, 1, 40};
    ScanFind refused;
    refused.at = at;
    refused.kind = ScanFindKind::Refused;
    refused.exceptionCode = 2;
    EXPECT_EQ(ScanUseText(refused),
              "The slave at address 40, COM3, 19200 baud, even parity, refused the read with exception 2 (Illegal "
              "data address). It may be another kind of device; the program's polls would be refused the same way. "
              "Use it anyway?");
    ScanFind other = refused;
    other.kind = ScanFindKind::OtherAddress;
    other.answeredAddress = 41;
    EXPECT_EQ(ScanUseText(other).rfind("The probe of address 40 on COM3, 19200 baud, even parity was answered from "
                                       "address 41: nothing answers as address 40 there",
                                       0),
              0u)
        << ScanUseText(other);
    ScanFind damaged = refused;
    damaged.kind = ScanFindKind::Damaged;
    EXPECT_NE(ScanUseText(damaged).find("address 40 on COM3, 19200 baud, even parity was damaged"), std::string::npos)
        << ScanUseText(damaged);
}

TEST_F(Scan, UseOnASlaveThatRefusedTheReadTakesItOnlyAfterAYes)
{
    rig.configurePort(2);
    app.link.ulBaudRate = 1;
    app.link.usParity = 1;
    slaves.push_back({1, 0, 2, 5, 0x11, Slave::Fault::Exception, 2});  // 9600 odd, address 5
    ASSERT_TRUE(app.scan.Start(app, {1}));
    while (app.scan.finds().empty() && app.scan.running())
        app.scan.Step(app);
    ASSERT_EQ(app.scan.finds().size(), 1u);
    const ScanFind f = app.scan.finds()[0];
    const std::size_t opens = rig.com.opens.size();

    rig.popups.confirmAnswer = false;
    EXPECT_EQ(UseScanFindAsked(app, f), ScanUseOutcome::Declined);
    ASSERT_EQ(rig.popups.popups.size(), 1u);
    EXPECT_NE(rig.popupText(0).find("The slave at address 5, COM1, 9600 baud, odd parity, refused the read with "
                                    "exception 2 (Illegal data address)"),
              std::string::npos)
        << rig.popupText(0);
    EXPECT_TRUE(app.scan.running()) << "No leaves the scan going";
    EXPECT_EQ(app.link.usPortNumber, 2);
    EXPECT_EQ(app.link.ulBaudRate, 1u);
    EXPECT_EQ(app.link.usParity, 1);
    EXPECT_EQ(app.link.slaveAddress, 1);
    EXPECT_EQ(rig.com.opens.size(), opens) << "no port reopened";
    EXPECT_TRUE(settingsFile().empty()) << "nothing saved";
    int v = -1;
    rig.panels.GetCtrlVal(app.st.panelMain, PANEL_SLAVE_ADDRESS, v);
    EXPECT_EQ(v, 1);

    rig.popups.confirmAnswer = true;
    EXPECT_EQ(UseScanFindAsked(app, f), ScanUseOutcome::Used);
    EXPECT_EQ(rig.popups.popups.size(), 2u);
    EXPECT_FALSE(app.scan.running());
    EXPECT_EQ(app.link.usPortNumber, 1);
    EXPECT_EQ(app.link.ulBaudRate, 0u);
    EXPECT_EQ(app.link.usParity, 2);
    EXPECT_EQ(app.link.slaveAddress, 5);
    EXPECT_NE(settingsFile().find("PARITY=2"), std::string::npos);
    rig.tick();
    EXPECT_EQ(rig.mainMessage(), "-EXCEPTION 2-") << "what the user agreed to poll";
}
