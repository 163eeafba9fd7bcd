// The user acting at any moment: with a write dialog open while other windows write, and
// in the middle of a poll's or a write's wait. Every write must go to the register the user
// meant, with the value the user chose, exactly once, and no readback may undo a choice.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app_rig.h"
#include "cwd_guard.h"

using namespace vek;
using namespace vek::test;
using ui::Value;

namespace {

using Bytes = std::vector<std::uint8_t>;

struct UserInput : TransmitterTest {
    int openUser() { return r.openUser(); }
    int openAdvanced() { return r.openAdvanced(); }
    // A program that has not polled yet, with `settings` saved in the working directory.
    void startWithSettings(const std::string& settings)
    {
        app.link.ucMBFlag = 0;
        app.link.usPortNumber = 0;
        std::ofstream("RS_Settings") << settings;
    }
    int dialog() const { return app.st.panelWriteDialog; }

    // The poll as the main window's timer runs it: through the model's dispatch, so that
    // anything the user does meanwhile meets a running callback.
    void pollByTimer()
    {
        r.clock.advanceTo(std::max(r.clock.now(), panels.nextTimerDue()));
        panels.FireDueTimers();
    }
    // Every function-6 request sent so far, as (register counted from 1, value).
    std::vector<std::pair<int, int>> writes() const
    {
        std::vector<std::pair<int, int>> out;
        for (const Bytes& f : r.com.frames)
            if (f.size() == 8 && f[1] == 6)
                out.emplace_back(((f[2] << 8) | f[3]) + 1, (f[4] << 8) | f[5]);
        return out;
    }
    long long number(int panel, int ctrl) const
    {
        long long v = -1;
        panels.GetCtrlVal(panel, ctrl, v);
        return v;
    }
};

using W = std::vector<std::pair<int, int>>;

// The link as the program runs it: the user acts while an exchange waits for its reply.
struct MidExchange : UserInput {
    void SetUp() override
    {
        UserInput::SetUp();
        r.asyncLink();
    }
    // The poll the timer starts, and whatever waits for the line behind it, to their ends.
    void pollByTimer()
    {
        UserInput::pollByTimer();
        r.settle();
    }
};

TEST_F(UserInput, TheValueDialogKeepsItsRegisterWhileARingWritesAnother)
{
    const int user = openUser();
    panels.PostEvent(app.st.panelMain, PANEL_DISTANCE_20MA, EVENT_LEFT_DOUBLE_CLICK);
    ASSERT_EQ(panels.UserSetValue(user, PANEL_4_MEDIUM, Value(6LL)), 0);  // "Solid"
    ASSERT_EQ(panels.UserSetValue(dialog(), WRITE_VAL_WRITE_VALUE, Value(640LL)), 0);
    EXPECT_EQ(writes(), (W{{44, 6}})) << "typing into the dialog sends nothing";
    panels.PostEvent(dialog(), WRITE_VAL_CONF_VAL, EVENT_COMMIT);
    EXPECT_EQ(writes(), (W{{44, 6}, {12, 640}}));
}

TEST_F(UserInput, TheConfigIndexDialogKeepsItsPositionWhileOtherWindowsWrite)
{
    const int adv = openAdvanced();
    const int user = openUser();
    panels.PostEvent(adv, PANEL_3_CONFIG_INDEX_3, EVENT_LEFT_DOUBLE_CLICK);
    const int ascii = dialog();
    ASSERT_EQ(panels.UserSetValue(user, PANEL_4_RL1_TH_ENABLE, Value(0LL)), 0);
    ASSERT_EQ(panels.UserSetValue(ascii, WR_ASCII_STRING, Value(std::string("K"))), 0);
    panels.PostEvent(ascii, WR_ASCII_CONF_VAL, EVENT_COMMIT);
    EXPECT_EQ(writes(), (W{{47, 0}, {31, 'K'}}));
}

TEST_F(MidExchange, ARingChosenHalfWayThroughAPollsWaitIsWrittenOnceWithTheChosenValue)
{
    r.regs[43] = 4;  // Medium "Liquid"
    const int user = openUser();
    pollByTimer();
    ASSERT_EQ(number(user, PANEL_4_MEDIUM), 4);
    const std::size_t before = r.com.frames.size();

    // 0.5 s into the next poll's 1 s wait the user picks "Liquid Pipe".
    const double due = panels.nextTimerDue();
    int refused = 1;
    r.clock.schedule(due + 0.5, [&] { refused = panels.UserSetValue(user, PANEL_4_MEDIUM, Value(8LL)); });
    pollByTimer();
    EXPECT_EQ(refused, 0);
    ASSERT_GE(r.com.frames.size(), before + 2);
    EXPECT_EQ(r.com.frames[before], expectedPoll(1)) << "the poll went out first";
    EXPECT_EQ(writes(), (W{{44, 8}})) << "one write, with the chosen value, after the poll";
    EXPECT_EQ(number(user, PANEL_4_MEDIUM), 8) << "the poll's readback did not undo the choice";
    EXPECT_EQ(r.regs[43], 8);
}

TEST_F(MidExchange, SwitchesFlippedDuringAnotherWritesEchoWaitAreWrittenAfterItOnceEachInOrder)
{
    const int user = openUser();
    r.replyDelay = 1.8;  // a slow echo: the user acts inside its wait
    // Two in a row on one switch, then another switch: each flip is one write, in order, and
    // the last value of each is what the transmitter holds.
    r.clock.schedule(r.clock.now() + 0.5, [&] {
        panels.UserSetValue(user, PANEL_4_RL2_TH_ENABLE, Value(1LL));
        panels.UserSetValue(user, PANEL_4_RL2_TH_ENABLE, Value(0LL));
        panels.UserSetValue(user, PANEL_4_RL1_TH_SAFETY, Value(1LL));
    });
    ASSERT_EQ(panels.UserSetValue(user, PANEL_4_RL1_TH_ENABLE, Value(1LL)), 0);
    r.settle();
    EXPECT_EQ(writes(), (W{{47, 1}, {50, 1}, {50, 0}, {46, 1}}));
    EXPECT_EQ(number(user, PANEL_4_RL2_TH_ENABLE), 0);
    EXPECT_EQ(r.regs[reg::kRl2ThEnable - 1], 0);
}

TEST_F(MidExchange, ASlaveAddressAndALoggerIntervalSetDuringAPollsWaitAreKept)
{
    panels.PostEvent(app.st.panelMain, PANEL_LOGGER, EVENT_COMMIT);
    const int log = app.st.panelDataLog;
    ASSERT_GT(log, 0);
    pollByTimer();
    const double due = panels.nextTimerDue();
    r.clock.schedule(due + 0.5, [&] {
        panels.UserSetValue(app.st.panelMain, PANEL_SLAVE_ADDRESS, Value(17LL));
        panels.UserSetValue(log, DATA_LOG_WRITE_TIMER, Value(12LL));
    });
    pollByTimer();
    EXPECT_EQ(app.link.slaveAddress, 17);
    EXPECT_EQ(number(app.st.panelMain, PANEL_SLAVE_ADDRESS), 17);
    EXPECT_EQ(app.st.logInterval, 12);
    EXPECT_EQ(number(log, DATA_LOG_WRITE_TIMER), 12);
    pollByTimer();
    EXPECT_EQ(r.com.frames.back(), expectedPoll(17));
}

TEST_F(MidExchange, AChoiceAndQuitMadeDuringAWaitAreHandledInTheOrderTheUserMadeThem)
{
    const int user = openUser();
    pollByTimer();
    r.clock.schedule(panels.nextTimerDue() + 0.5, [&] {
        panels.UserSetValue(user, PANEL_4_MEDIUM, Value(8LL));
        panels.PostEvent(user, PANEL_4_USCITA, EVENT_COMMIT);
    });
    pollByTimer();
    EXPECT_EQ(writes(), (W{{44, 8}})) << "the choice came before Quit";
    EXPECT_EQ(panels.panel(user), nullptr) << "then the window closed";
}

// A choice made during a poll's wait stays on the window: the poll's readback of the older
// value neither shows it nor keeps it, and the choice is written after the poll.
TEST_F(MidExchange, AChoiceMadeDuringAPollsWaitIsNeverShownUndoneByItsReadback)
{
    struct Seen : ui::PanelObserver {
        const ui::PanelModel* model = nullptr;
        int panel = 0;
        std::vector<long long> shown;
        void controlValueChanged(int handle, int ctrl) override
        {
            long long v = -1;
            if (handle == panel && ctrl == PANEL_4_MEDIUM && model->GetCtrlVal(handle, ctrl, v) == 0)
                shown.push_back(v);
        }
    } seen;
    r.regs[reg::kMedium - 1] = 4;  // "Liquid"
    const int user = openUser();
    pollByTimer();
    ASSERT_EQ(number(user, PANEL_4_MEDIUM), 4);
    seen.model = &panels;
    seen.panel = user;
    panels.setObserver(&seen);
    r.clock.schedule(panels.nextTimerDue() + 0.5, [&] { panels.UserSetValue(user, PANEL_4_MEDIUM, Value(8LL)); });
    pollByTimer();
    panels.setObserver(nullptr);
    EXPECT_EQ(seen.shown, std::vector<long long>{8}) << "the window went straight to the choice, never back to 4";
    EXPECT_EQ(writes(), (W{{44, 8}}));
    EXPECT_EQ(number(user, PANEL_4_MEDIUM), 8);
}

TEST_F(UserInput, AWriteWithNoPortSendsAndCountsNothingAndAsksForAPort)
{
    CwdGuard cwd;  // no RS_Settings here
    app.link.usPortNumber = 0;
    const int user = openUser();
    const double t0 = r.clock.now();
    panels.UserSetValue(user, PANEL_4_MEDIUM, Value(6LL));
    EXPECT_TRUE(r.com.frames.empty());
    EXPECT_EQ(app.link.pollCount, 0);
    EXPECT_EQ(r.mainMessage(), kMsgNoPort);
    EXPECT_EQ(r.mainLed(), 1);
    EXPECT_LT(r.clock.now() - t0, 0.5) << "no echo is waited for";
}

TEST_F(UserInput, ASettingsFileNamingNoPortIsRecalledOnceAndAgainOnlyWhenItChanges)
{
    CwdGuard cwd;
    startWithSettings("COMPORT=0\nPorta=0\nBAUD_RATE=0\nPARITY=0\n");
    panels.PostEvent(app.st.panelMain, PANEL_CONFIG_SER_PORT, EVENT_COMMIT);
    const int rs = app.st.panelRs485;
    r.tick();
    ASSERT_EQ(panels.UserSetValue(rs, PANEL_2_PARITY, Value(2LL)), 0);
    r.tick();
    r.tick();
    EXPECT_EQ(number(rs, PANEL_2_PARITY), 2) << "the ticks left the user's choice alone";
    EXPECT_EQ(app.link.usParity, 2);

    // Saved again elsewhere (another copy of the program): now it names COM1.
    {
        std::ofstream f("RS_Settings");
        f << "COMPORT=1\nPorta=1\nBAUD_RATE=1\nPARITY=1\n";
    }
    std::filesystem::last_write_time("RS_Settings",
                                     std::filesystem::last_write_time("RS_Settings") + std::chrono::seconds(2));
    r.tick();
    EXPECT_EQ(app.link.usPortNumber, 1) << "a changed file is recalled";
    EXPECT_EQ(app.link.usParity, 1);
    EXPECT_EQ(r.com.frames.back(), expectedPoll(1));
}

}  // namespace

namespace {

TEST_F(UserInput, APortThatCannotBeOpenedIsNamedInsteadOfBlamingTheTransmitter)
{
    r.com.absent.insert(1);
    r.tick();
    EXPECT_EQ(r.mainMessage(), platform::Rs232ErrorText(platform::RS_ERR_CANNOT_OPEN));
    EXPECT_NE(r.mainMessage(), "-NO RESPONSE-");
    EXPECT_EQ(r.mainLed(), 1);
    EXPECT_EQ(app.link.pollCount, 1) << "the poll still counts";
    r.com.absent.clear();
    r.tick();
    EXPECT_EQ(r.mainMessage(), "");
    EXPECT_EQ(r.mainLed(), 0);
}

TEST_F(UserInput, StaleMeasurementsGreyOutAndTheLastValidReplyIsNamed)
{
    const int main = app.st.panelMain;
    auto dimmed = [&](int ctrl) {
        Value v;
        panels.GetCtrlAttribute(main, ctrl, ATTR_DIMMED, v);
        return std::get<long long>(v) != 0;
    };
    auto lastValid = [&] {
        Value v;
        panels.GetCtrlValue(main, PANEL_LAST_VALID, v);
        return std::holds_alternative<std::string>(v) ? std::get<std::string>(v) : std::string();
    };
    r.tick();
    const std::string first = lastValid();
    EXPECT_EQ(first.rfind("Last valid reply ", 0), 0u) << first;
    EXPECT_FALSE(dimmed(PANEL_DISTANCE_MM));

    r.answering = false;
    r.clock.advanceTo(r.clock.now() + 5);
    r.tick();
    for (int ctrl : {PANEL_DISTANCE_MM, PANEL_LEVEL_PERC, PANEL_NUMERICTANK, PANEL_ERROR_MSG, PANEL_RL1_LED})
        EXPECT_TRUE(dimmed(ctrl)) << ctrl;
    EXPECT_FALSE(dimmed(PANEL_SLAVE_ADDRESS)) << "what the user sets is never greyed";
    EXPECT_EQ(lastValid(), first) << "still the time of the last good one";

    r.answering = true;
    r.clock.advanceTo(r.clock.now() + 5);
    r.tick();
    EXPECT_FALSE(dimmed(PANEL_DISTANCE_MM));
    EXPECT_FALSE(dimmed(PANEL_RL1_LED));
    EXPECT_NE(lastValid(), first);
}

TEST_F(UserInput, TheSettingsWindowOpenedBeforeTheFirstPollShowsAndKeepsTheSavedPort)
{
    CwdGuard cwd;
    startWithSettings("COMPORT=3\nPorta=3\nBAUD_RATE=1\nPARITY=2\n");
    panels.PostEvent(app.st.panelMain, PANEL_CONFIG_SER_PORT, EVENT_COMMIT);
    EXPECT_EQ(number(app.st.panelRs485, PANEL_2_COMPORT), 3);
    EXPECT_EQ(number(app.st.panelRs485, PANEL_2_BAUD_RATE), 1);
    panels.PostEvent(app.st.panelRs485, PANEL_2_SAVE_SETTINGS, EVENT_COMMIT);
    std::ifstream in("RS_Settings");
    const std::string saved((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(saved.find("COMPORT=3"), std::string::npos) << saved;
    EXPECT_NE(saved.find("Porta=3"), std::string::npos) << saved;
}

}  // namespace
