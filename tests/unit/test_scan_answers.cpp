// What each kind of answer to a probe becomes: a transmitter, counted and taken by "Use", or
// something that answered, listed with what it said and not counted; "Use" asks before it
// takes a slave that refused the read, and says why it cannot take the others.
#include <gtest/gtest.h>

#include "scan_rig.h"

using namespace vek;
using vek::test::Slave;

namespace {

struct AnswerCase {
    std::string name;
    Slave::Fault fault;
    std::uint8_t exception;
    ScanFindKind kind;
    std::string listed;      // the row's "Model / what answered"
    std::string counted;     // the scan's summary
    ScanUseOutcome outcome;  // of "Use", answered No if it asks
    std::string told;        // in the question or message "Use" shows
};

void PrintTo(const AnswerCase& c, std::ostream* os) { *os << c.name; }

std::vector<AnswerCase> answerCases()
{
    const std::string none = "0 transmitters found, and something else answered 1 time: see the orange rows";
    std::vector<AnswerCase> cases = {
        {"ModelReply", Slave::Fault::None, 0, ScanFindKind::Transmitter, "Gauge 5m (model code 17)",
         "1 transmitter found", ScanUseOutcome::Used, ""},
        {"WrongAddress", Slave::Fault::OtherAddress, 0, ScanFindKind::OtherAddress,
         "something answered: a frame from address 6 to the probe of address 5", none, ScanUseOutcome::Refused,
         "The probe of address 5 on COM1, 9600 baud, no parity was answered from address 6: nothing answers as "
         "address 5 there"},
        {"Damaged", Slave::Fault::BadCrc, 0, ScanFindKind::Damaged,
         "something answered: 7 bytes that make no frame (bad CRC or wrong length)", none, ScanUseOutcome::Refused,
         "The answer to the probe of address 5 on COM1, 9600 baud, no parity was damaged"},
    };
    const char* names[] = {"Illegal function", "Illegal data address", "Illegal data value", "Slave device failure"};
    for (std::uint8_t code = 1; code <= 4; ++code) {
        const std::string exception = "exception " + std::to_string(code) + " (" + names[code - 1] + ")";
        cases.push_back(
            {"Exception" + std::to_string(code), Slave::Fault::Exception, code, ScanFindKind::Refused,
             "something answered: " + exception + " to the read of the model register", none, ScanUseOutcome::Declined,
             "The slave at address 5, COM1, 9600 baud, no parity, refused the read with " + exception + "."});
    }
    return cases;
}

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

INSTANTIATE_TEST_SUITE_P(Kinds, ScanAnswers, ::testing::ValuesIn(answerCases()),
                         [](const ::testing::TestParamInfo<AnswerCase>& i) { return i.param.name; });

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
