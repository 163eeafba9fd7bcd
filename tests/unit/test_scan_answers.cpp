// What each kind of answer to a probe becomes: a transmitter, counted and taken by "Use", or
// something that answered, listed with what it said and not counted; "Use" asks before it
// takes a slave that refused the read, and says why it cannot take the others.
#include <gtest/gtest.h>

#include "scan_rig.h"

using namespace vek;
using vek::test::Slave;

namespace {

struct AnswerCase {
    const char* name;
    Slave::Fault fault;
    std::uint8_t exception;
    ScanFindKind kind;
    const char* listed;      // the row's "Model / what answered"
    const char* counted;     // the scan's summary
    ScanUseOutcome outcome;  // of "Use", answered No if it asks
    const char* told;        // in the question or message "Use" shows
};

void PrintTo(const AnswerCase& c, std::ostream* os) { *os << c.name; }

constexpr const char* kOne = "1 transmitter found";
constexpr const char* kNone = "0 transmitters found, and something else answered 1 time: see the orange rows";
constexpr auto kAsks = ScanUseOutcome::Declined;
constexpr auto kRefuses = ScanUseOutcome::Refused;

const AnswerCase kAnswers[] = {
    {"ModelReply", Slave::Fault::None, 0, ScanFindKind::Transmitter, "Gauge 5m (model code 17)", kOne,
     ScanUseOutcome::Used, ""},
    {"Exception1", Slave::Fault::Exception, 1, ScanFindKind::Refused,
     "something answered: exception 1 (Illegal function) to the read of the model register", kNone, kAsks,
     "The slave at address 5, COM1, 9600 baud, no parity, refused the read with exception 1 (Illegal function)."},
    {"Exception2", Slave::Fault::Exception, 2, ScanFindKind::Refused,
     "something answered: exception 2 (Illegal data address) to the read of the model register", kNone, kAsks,
     "refused the read with exception 2 (Illegal data address). "},
    {"Exception3", Slave::Fault::Exception, 3, ScanFindKind::Refused,
     "something answered: exception 3 (Illegal data value) to the read of the model register", kNone, kAsks,
     "refused the read with exception 3 (Illegal data value). "},
    {"Exception4", Slave::Fault::Exception, 4, ScanFindKind::Refused,
     "something answered: exception 4 (Slave device failure) to the read of the model register", kNone, kAsks,
     "refused the read with exception 4 (Slave device failure). "},
    {"WrongAddress", Slave::Fault::OtherAddress, 0, ScanFindKind::OtherAddress,
     "something answered: a frame from address 6 to the probe of address 5", kNone, kRefuses,
     "The probe of address 5 on COM1, 9600 baud, no parity was answered from address 6: nothing answers as "
     "address 5 there"},
    {"Damaged", Slave::Fault::BadCrc, 0, ScanFindKind::Damaged,
     "something answered: 7 bytes that make no frame (bad CRC or wrong length)", kNone, kRefuses,
     "The answer to the probe of address 5 on COM1, 9600 baud, no parity was damaged"},
};

}  // namespace

class ScanAnswers : public test::ScanRig, public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(ScanAnswers, EachAnswerIsCountedListedAndUsedByItsKind)
{
    const AnswerCase& c = GetParam();
    rig.configurePort(2);  // the program polls address 1 on COM2
    slaves.push_back({1, 0, 0, 5, 0x11, c.fault, c.exception});
    ASSERT_TRUE(app.scan.Start(app, {1}));
    while (app.scan.running() && app.scan.finds().empty())
        app.scan.Step(app);
    app.scan.Cancel(app);
    ASSERT_EQ(app.scan.finds().size(), 1u);
    const ScanFind f = app.scan.finds()[0];
    EXPECT_EQ(f.kind, c.kind);
    EXPECT_EQ(f.at, (ScanProbe{1, 0, 0, 5}));
    EXPECT_EQ(f.what, c.listed);
    EXPECT_EQ(app.scan.FoundText(), c.counted);

    rig.popups.confirmAnswer = false;
    EXPECT_EQ(UseScanFindAsked(app, f), c.outcome);
    const bool taken = c.outcome == ScanUseOutcome::Used;
    EXPECT_EQ(app.link.usPortNumber, taken ? 1 : 2);
    EXPECT_EQ(app.link.slaveAddress, taken ? 5 : 1);
    EXPECT_EQ(settingsFile().empty(), !taken) << "only a find taken is saved";
    ASSERT_EQ(rig.popups.popups.size(), taken ? 0u : 1u);
    EXPECT_NE(rig.popupText(0).find(c.told), std::string::npos) << rig.popupText(0);
}

INSTANTIATE_TEST_SUITE_P(Kinds, ScanAnswers, ::testing::ValuesIn(kAnswers),
                         [](const ::testing::TestParamInfo<AnswerCase>& i) { return std::string(i.param.name); });

TEST_F(ScanAnswers, UseOnASlaveThatRefusedTheReadTakesItAfterAYesAndNoReopensNothing)
{
    rig.configurePort(2);
    slaves.push_back({1, 0, 2, 5, 0x11, Slave::Fault::Exception, 2});  // 9600 odd, address 5
    ASSERT_TRUE(app.scan.Start(app, {1}));
    while (app.scan.finds().empty() && app.scan.running())
        app.scan.Step(app);
    ASSERT_EQ(app.scan.finds().size(), 1u);
    const std::size_t opens = rig.com.opens.size();
    EXPECT_EQ(UseScanFindAsked(app, app.scan.finds()[0]), ScanUseOutcome::Declined);
    EXPECT_EQ(rig.com.opens.size(), opens) << "No reopens no port";
    EXPECT_TRUE(app.scan.running()) << "and leaves the scan going";

    rig.popups.confirmAnswer = true;
    EXPECT_EQ(UseScanFindAsked(app, app.scan.finds()[0]), ScanUseOutcome::Used);
    EXPECT_FALSE(app.scan.running());
    EXPECT_EQ(app.link.usPortNumber, 1);
    EXPECT_EQ(app.link.usParity, 2);
    EXPECT_EQ(app.link.slaveAddress, 5);
    EXPECT_NE(settingsFile().find("PARITY=2"), std::string::npos);
    rig.tick();
    EXPECT_EQ(rig.mainMessage(), "-EXCEPTION 2-") << "what the user agreed to poll";
}
