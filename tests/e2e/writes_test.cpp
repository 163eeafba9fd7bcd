// Writes from each window a set-up value can be written from: the frame that reaches the
// transmitter, its answer on the main window, and the value read back by the next poll.
#include <QTimer>

#include "harness.h"

namespace vek::e2e {
namespace {

// Write Single Register for slave 1: register n goes on the wire as address n - 1.
std::string writeFrame(int reg, int value)
{
    return hexOf(withCrc({0x01, 0x06, static_cast<std::uint8_t>((reg - 1) >> 8), static_cast<std::uint8_t>(reg - 1),
                          static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value & 0xFF)}));
}

std::vector<std::string> requestFrames(Simulator& sim)
{
    std::vector<std::string> out;
    for (const auto& rq : sim.log().requests())
        out.push_back(hexOf(rq.bytes));
    return out;
}

std::vector<std::pair<int, int>> writesDone(Simulator& sim)
{
    std::vector<std::pair<int, int>> out;
    for (const auto& e : sim.log().events("write"))
        out.emplace_back(e.reg, e.value);
    return out;
}

using Frames = std::vector<std::string>;
using Writes = std::vector<std::pair<int, int>>;

class Writing : public ::testing::Test {
protected:
    void SetUp() override
    {
        ws.writeSettingsForCom1();
        sim = std::make_unique<Simulator>(ws.linkPath(), ws.path("sim.log"), options());
        ASSERT_TRUE(sim->started()) << sim->diagnostics().toStdString();
        p = std::make_unique<RunningProgram>();
        // The port is known from the first tick on; a write needs it.
        ASSERT_TRUE(p->waitForPolls(1, 9000));
        ASSERT_EQ(p->validReplies(), 1);
    }
    void TearDown() override
    {
        p.reset();
        sim.reset();
    }
    virtual QStringList options() const { return {"--seed", "11"}; }
    Registers lastReply() const { return Registers(sim->log().replies().back().bytes); }

    Workspace ws;
    std::unique_ptr<Simulator> sim;
    std::unique_ptr<RunningProgram> p;
};

TEST_F(Writing, DistFullTypedOnTheMainWindowReachesTheTransmitterAndTheNextPollShowsIt)
{
    const int main = p->main();
    const int before = lastReply().reg(12);
    const int value = before == 650 ? 700 : 650;

    p->doubleClick(main, "DISTANCE_20MA");
    const int dialog = p->app().st.panelWriteDialog;
    ASSERT_TRUE(p->shown(dialog));
    ASSERT_NE(p->widget(dialog, "WRITE_VALUE"), nullptr);
    EXPECT_EQ(p->widget(dialog, "WRITE_VALUE")->accessibleName(), "Dist. Full [mm] (register 12), 0 to 65535");
    EXPECT_EQ(p->text(dialog, "WRITE_VALUE"), QString::number(before));
    // The write waits its turn for the line (behind a poll under way), the window answering.
    p->typeAndEnter(dialog, "WRITE_VALUE", QString::number(value));
    ASSERT_TRUE(p->waitForLinkIdle());

    EXPECT_EQ(requestFrames(*sim), (Frames{kPollFrameHex, writeFrame(12, value)}));
    EXPECT_EQ(writesDone(*sim), (Writes{{12, value}}));
    EXPECT_EQ(p->message(), "");
    EXPECT_FALSE(p->lamp());
    EXPECT_EQ(p->text(main, "DISTANCE_20MA"), QString::number(before));

    ASSERT_TRUE(p->waitForPolls(3, 9000));
    EXPECT_EQ(lastReply().reg(12), value);
    EXPECT_EQ(p->text(main, "DISTANCE_20MA"), QString::number(value));
    EXPECT_EQ(p->validReplies(), 3);  // the write's good echo is a valid reply, as the two polls' are
    EXPECT_EQ(requestFrames(*sim).size(), 3u);
}

TEST_F(Writing, ARingAndASlideChangedOnUserSetUpWriteTheirItemValuesAndReadBack)
{
    p->click(p->main(), "SET_UP_UT");
    const int user = p->app().st.panelUser;
    ASSERT_TRUE(p->shown(user));
    EXPECT_EQ(p->text(user, "MEDIUM"), "Liquid");  // register 44 holds 4
    EXPECT_EQ(p->text(user, "MB_PARITY"), "No Parity");

    p->choose(user, "MEDIUM", "Liquid Pipe");
    p->pickRingItem(user, "MB_PARITY", "Even Parity");
    ASSERT_TRUE(p->waitForLinkIdle());

    // "Liquid Pipe" is the third item but writes 8.
    EXPECT_EQ(requestFrames(*sim), (Frames{kPollFrameHex, writeFrame(44, 8), writeFrame(74, 1)}));
    EXPECT_EQ(writesDone(*sim), (Writes{{44, 8}, {74, 1}}));
    EXPECT_EQ(p->message(), "");

    ASSERT_TRUE(p->waitForPolls(4, 9000));
    EXPECT_EQ(lastReply().reg(44), 8);
    EXPECT_EQ(lastReply().reg(74), 1);
    EXPECT_EQ(p->text(user, "MEDIUM"), "Liquid Pipe");
    EXPECT_EQ(p->text(user, "MB_PARITY"), "Even Parity");
    // The poll that set the ring and the slide from the reply wrote nothing.
    EXPECT_EQ(requestFrames(*sim).size(), 4u);
}

TEST_F(Writing, ARingChosenWhileAPollWaitsForItsReplyIsWrittenOnceWithTheChosenValue)
{
    p->click(p->main(), "SET_UP_UT");
    const int user = p->app().st.panelUser;
    ASSERT_EQ(p->text(user, "MEDIUM"), "Liquid");
    // The user's click lands while the next poll waits for its reply: the poll has been sent
    // (counted) and holds the line.
    const int sent = p->app().link.pollCount;
    bool clicked = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!clicked && p->app().engine.busy() && p->app().link.pollCount > sent) {
            clicked = true;
            p->choose(user, "MEDIUM", "Liquid Pipe");
        }
    });
    watch.start(20);
    ASSERT_TRUE(runEventsUntil([&] { return clicked; }, 9000));
    watch.stop();
    ASSERT_TRUE(p->waitForLinkIdle());

    EXPECT_EQ(requestFrames(*sim), (Frames{kPollFrameHex, kPollFrameHex, writeFrame(44, 8)}))
        << "the poll first, then one write of the chosen item";
    EXPECT_EQ(writesDone(*sim), (Writes{{44, 8}}));
    EXPECT_EQ(p->text(user, "MEDIUM"), "Liquid Pipe") << "the waiting poll's readback did not undo the choice";
    ASSERT_TRUE(p->waitForPolls(4, 9000));
    EXPECT_EQ(writesDone(*sim), (Writes{{44, 8}})) << "and nothing else was ever written";
    EXPECT_EQ(p->text(user, "MEDIUM"), "Liquid Pipe");
}

TEST_F(Writing, TheDialogWritesItsOwnRegisterAfterARingWroteAnother)
{
    p->click(p->main(), "SET_UP_UT");
    const int user = p->app().st.panelUser;
    p->doubleClick(p->main(), "DISTANCE_20MA");
    const int dialog = p->app().st.panelWriteDialog;
    p->choose(user, "MEDIUM", "Solid");
    p->typeAndEnter(dialog, "WRITE_VALUE", "640");
    ASSERT_TRUE(p->waitForLinkIdle());
    EXPECT_EQ(writesDone(*sim), (Writes{{44, 6}, {12, 640}}));
    EXPECT_EQ(requestFrames(*sim), (Frames{kPollFrameHex, writeFrame(44, 6), writeFrame(12, 640)}));
}

TEST_F(Writing, ANumberAndAConfigIndexCharacterWrittenOnAdvancedSetUpReadBack)
{
    p->click(p->main(), "SET_UP");
    const int password = p->app().st.panelPassword;
    p->typeAndEnter(password, "STRING", "tundo");
    const int adv = p->app().st.panelAdvanced;
    ASSERT_TRUE(p->shown(adv));
    const Registers first = lastReply();
    EXPECT_EQ(p->text(adv, "Z_VALUE"), QString::number(first.reg(18)));
    EXPECT_EQ(p->text(adv, "CONFIG_INDEX_3"), "M");  // "G5M-A001"
    const int z = first.reg(18) == 1234 ? 1235 : 1234;

    p->doubleClick(adv, "Z_VALUE");
    const int numberDialog = p->app().st.panelWriteDialog;
    ASSERT_TRUE(p->shown(numberDialog));
    p->typeAndEnter(numberDialog, "WRITE_VALUE", QString::number(z));

    p->doubleClick(adv, "CONFIG_INDEX_3");
    const int charDialog = p->app().st.panelWriteDialog;
    ASSERT_TRUE(p->shown(charDialog));
    EXPECT_EQ(p->text(charDialog, "STRING"), "M");
    p->typeAndEnter(charDialog, "STRING", "Q");
    ASSERT_TRUE(p->waitForLinkIdle());

    EXPECT_EQ(requestFrames(*sim), (Frames{kPollFrameHex, writeFrame(18, z), writeFrame(31, 'Q')}));
    EXPECT_EQ(writesDone(*sim), (Writes{{18, z}, {31, 'Q'}}));
    EXPECT_EQ(p->message(), "");
    EXPECT_TRUE(p->popups().empty());

    ASSERT_TRUE(p->waitForPolls(4, 9000));
    EXPECT_EQ(p->text(adv, "Z_VALUE"), QString::number(z));
    EXPECT_EQ(p->text(adv, "CONFIG_INDEX_3"), "Q");
}

class RefusedWriting : public Writing {
protected:
    // Every second request is refused: the first poll is answered, the write that follows is not.
    QStringList options() const override { return {"--seed", "11", "--exception", "2,every:2"}; }
};

TEST_F(RefusedWriting, AWriteTheTransmitterRefusesShowsItsExceptionAndTheValueStays)
{
    const int main = p->main();
    const int before = lastReply().reg(11);
    p->doubleClick(main, "DISTANCE_4MA");
    p->typeAndEnter(p->app().st.panelWriteDialog, "WRITE_VALUE", QString::number(before + 100));
    ASSERT_TRUE(p->waitForLinkIdle());

    EXPECT_EQ(p->message(), "-EXCEPTION 2-");
    EXPECT_TRUE(p->lamp());
    EXPECT_EQ(requestFrames(*sim), (Frames{kPollFrameHex, writeFrame(11, before + 100)}));
    EXPECT_TRUE(writesDone(*sim).empty());

    ASSERT_TRUE(p->waitForPolls(3, 9000));
    EXPECT_EQ(p->message(), "");
    EXPECT_FALSE(p->lamp());
    EXPECT_EQ(p->text(main, "DISTANCE_4MA"), QString::number(before));
    EXPECT_EQ(p->validReplies(), 2);
}

}  // namespace
}  // namespace vek::e2e
