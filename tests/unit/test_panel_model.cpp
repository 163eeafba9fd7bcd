// The panel model against the real resource: typed values, attributes, the user's changes,
// dispatch order, timers, and pictures.
#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "model_fixture.h"

using namespace vek;
using namespace vek::test;
using ui::Value;

TEST_F(ModelTest, ValuesAreTypedByTheControlsDataType)
{
    const int main = model.LoadPanel(0, kResourceFile, PANEL);
    const int rs = model.LoadPanel(0, kResourceFile, PANEL_2);
    int i = 0;
    model.SetCtrlVal(main, PANEL_LEVEL_MM, 40000);  // a short control wraps as a short does
    model.GetCtrlVal(main, PANEL_LEVEL_MM, i);
    EXPECT_EQ(i, 40000 - 65536);
    model.SetCtrlVal(rs, PANEL_2_Porta, -1);  // unsigned short
    model.GetCtrlVal(rs, PANEL_2_Porta, i);
    EXPECT_EQ(i, 65535);
    double d = 0;
    model.SetCtrlVal(main, PANEL_TEMPERATURE, 21.1);  // float: single precision
    model.GetCtrlVal(main, PANEL_TEMPERATURE, d);
    EXPECT_EQ(d, static_cast<double>(21.1f));
    model.SetCtrlVal(main, PANEL_NUMERIC, 21.1);  // double keeps it
    model.GetCtrlVal(main, PANEL_NUMERIC, d);
    EXPECT_EQ(d, 21.1);
    EXPECT_EQ(model.SetCtrlVal(main, PANEL_DISTANCE_MM, "12"), UIE_TYPE_MISMATCH);
    EXPECT_EQ(model.SetCtrlVal(main, PANEL_SENSOR, 12), UIE_TYPE_MISMATCH);
    std::string s;
    EXPECT_EQ(model.GetCtrlVal(main, PANEL_DISTANCE_MM, s), UIE_TYPE_MISMATCH);
    EXPECT_EQ(model.SetCtrlVal(main, 99, 1), UIE_NO_SUCH_CONTROL);
    // A ring holds item values, and keeps a value no item has so a view can show it as unknown.
    model.SetCtrlVal(rs, PANEL_2_COMPORT, 7);
    model.GetCtrlVal(rs, PANEL_2_COMPORT, i);
    EXPECT_EQ(i, 7);
    EXPECT_EQ(model.control(rs, PANEL_2_COMPORT)->itemIndexOf(7), 7);
    model.SetCtrlVal(rs, PANEL_2_BAUD_RATE, 9600);
    EXPECT_EQ(model.control(rs, PANEL_2_BAUD_RATE)->itemIndexOf(9600), -1);
    // A text message's value is its text.
    model.SetCtrlVal(main, PANEL_TEXTMSG_7, "VEK MODBUS RTU SOFTWARE");
    EXPECT_EQ(model.control(main, PANEL_TEXTMSG_7)->label, "VEK MODBUS RTU SOFTWARE");
}

TEST_F(ModelTest, AttributesKeepTheirCodes)
{
    const int main = model.LoadPanel(0, kResourceFile, PANEL);
    model.SetCtrlAttribute(main, PANEL_RL1_LED, ATTR_DIMMED, 1);
    EXPECT_TRUE(model.control(main, PANEL_RL1_LED)->dimmed);
    model.SetPanelAttribute(main, ATTR_TITLE, std::string("VEK-QUENOR Modbus RTU Software"));
    EXPECT_EQ(model.panel(main)->title, "VEK-QUENOR Modbus RTU Software");
    const int user = model.LoadPanel(0, kResourceFile, PANEL_4);
    model.SetCtrlAttribute(user, PANEL_4_RL1_TH_UNIT, ATTR_LABEL_TEXT, std::string("mm"));
    std::string unit;
    model.GetCtrlVal(user, PANEL_4_RL1_TH_UNIT, unit);
    EXPECT_EQ(unit, "mm");
    const int log = model.LoadPanel(0, kResourceFile, DATA_LOG);
    model.SetCtrlAttribute(log, DATA_LOG_DATALOG_MSG, ATTR_TEXT_COLOR, VAL_YELLOW);
    EXPECT_EQ(model.control(log, DATA_LOG_DATALOG_MSG)->textColor, 0xFFFF00);
    Value v;
    model.SetCtrlAttribute(main, PANEL_SENSOR, 530, 1);
    model.GetCtrlAttribute(main, PANEL_SENSOR, 530, v);
    EXPECT_EQ(std::get<long long>(v), 1);
    EXPECT_EQ(model.SetCtrlAttribute(main, PANEL_RL1_LED, ATTR_LABEL_TEXT, 5), UIE_TYPE_MISMATCH);
}

TEST_F(ModelTest, ProgrammaticChangesRaiseNothingAndUserChangesRaiseValueChangedThenCommit)
{
    const int rs = model.LoadPanel(0, kResourceFile, PANEL_2);
    model.SetCtrlVal(rs, PANEL_2_COMPORT, 3);
    EXPECT_TRUE(calls.empty());
    ASSERT_EQ(model.UserSetValue(rs, PANEL_2_COMPORT, 4), 0);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].event, EVENT_VAL_CHANGED);
    EXPECT_EQ(calls[1].event, EVENT_COMMIT);
    EXPECT_EQ(calls[0].name, "Set_Value");
    EXPECT_EQ(calls[0].panel, rs);
    EXPECT_EQ(calls[0].control, PANEL_2_COMPORT);
    calls.clear();
    // The user cannot change an indicator, pick a value no item has, or leave a range.
    EXPECT_LT(model.UserSetValue(rs, PANEL_2_DATA_BITS, 1), 0);
    EXPECT_LT(model.UserSetValue(rs, PANEL_2_COMPORT, 12), 0);
    const int dlg = model.LoadPanel(0, kResourceFile, WRITE_VAL);
    EXPECT_LT(model.UserSetValue(dlg, WRITE_VAL_WRITE_VALUE, 65536), 0);
    EXPECT_LT(model.UserSetValue(dlg, WRITE_VAL_WRITE_VALUE, -1), 0);
    EXPECT_LT(model.UserSetValue(dlg, WRITE_VAL_WRITE_VALUE, 12.5), 0) << "a whole-number box takes no fraction";
    EXPECT_EQ(model.UserSetValue(dlg, WRITE_VAL_WRITE_VALUE, 65535), 0);
    int typed = 0;
    model.GetCtrlVal(dlg, WRITE_VAL_WRITE_VALUE, typed);
    EXPECT_EQ(typed, 65535);
    const int main = model.LoadPanel(0, kResourceFile, PANEL);
    model.SetCtrlAttribute(main, PANEL_SLAVE_ADDRESS, ATTR_DIMMED, 1);
    EXPECT_LT(model.UserSetValue(main, PANEL_SLAVE_ADDRESS, 5), 0);
    EXPECT_TRUE(calls.empty()) << "a refused change raises nothing (and the value box has no callback)";
}

TEST(Dispatch, EventsRaisedInsideACallbackWaitUntilItEndsAndKeepTheirOrder)
{
    platform::VirtualClock clock;
    std::vector<std::string> log;
    ui::PanelModel* self = nullptr;
    int main = 0;
    ui::CallbackRegistry r = recordingRegistry(nullptr);
    r["Get_Buttons"] = [&](int panel, int ctrl, int event, void*, int, int) {
        log.push_back("start " + std::to_string(ctrl));
        if (ctrl == PANEL_INFO) {
            self->PostEvent(panel, PANEL_LOGGER, EVENT_COMMIT);
            self->PostEvent(panel, PANEL_SET_UP, EVENT_COMMIT);
            clock.Delay(1.0);  // a wait inside a callback must not let the queue run
            self->FireDueTimers();
        }
        log.push_back("end " + std::to_string(ctrl));
        (void)event;
        return 0;
    };
    r["MB_COM"] = [&](int, int, int, void*, int, int) {
        log.push_back("tick");
        return 0;
    };
    ui::PanelModel model(clock, r, VEK_BINARY_DIR);
    self = &model;
    main = model.LoadPanel(0, kResourceFile, PANEL);
    clock.advanceTo(4.5);
    model.PostEvent(main, PANEL_INFO, EVENT_COMMIT);
    EXPECT_EQ(log, (std::vector<std::string>{"start 24", "end 24", "start 41", "end 41", "start 25", "end 25"}));
    model.FireDueTimers();  // the tick that fell due during the callback runs after it
    EXPECT_EQ(log.back(), "tick");
}

TEST(Dispatch, TimerTicksFollowResetTimerAndStopWithThePanel)
{
    platform::VirtualClock clock;
    std::vector<double> ticks;
    ui::PanelModel* self = nullptr;
    int main = 0;
    ui::CallbackRegistry r = recordingRegistry(nullptr);
    r["MB_COM"] = [&](int, int, int event, void*, int, int) {
        EXPECT_EQ(event, EVENT_TIMER_TICK);
        ticks.push_back(clock.now());
        clock.Delay(1.0);  // the cycle's own wait
        self->ResetTimer(main, PANEL_TIMER);
        return 0;
    };
    ui::PanelModel model(clock, r, VEK_BINARY_DIR);
    self = &model;
    main = model.LoadPanel(0, kResourceFile, PANEL);
    while (clock.now() < 20.0) {
        clock.advanceTo(std::min(model.nextTimerDue(), 20.0));
        model.FireDueTimers();
    }
    EXPECT_EQ(ticks, (std::vector<double>{5.0, 11.0, 17.0})) << "5 s from the end of one cycle to the next tick";
    model.DiscardPanel(main);
    EXPECT_EQ(model.nextTimerDue(), std::numeric_limits<double>::infinity());
}

TEST(Dispatch, ACallbackThatThrowsIsReportedAndTheQueueAndTheTimerGoOn)
{
    const struct {
        const char* what;
        std::function<void()> fault;
        const char* said;
    } faults[] = {
        {"a standard exception", [] { throw std::runtime_error("boom"); }, "internal error: boom (in PANEL/"},
        {"anything else", [] { throw 42; }, "internal error: an exception of unknown type (in PANEL/"},
    };
    for (const auto& f : faults) {
        platform::VirtualClock clock;
        ui::RecordingPresenter popups;
        std::vector<std::string> log;
        ui::PanelModel* self = nullptr;
        ui::CallbackRegistry r = recordingRegistry(nullptr);
        r["Get_Buttons"] = [&](int panel, int ctrl, int, void*, int, int) {
            log.push_back("button " + std::to_string(ctrl));
            if (ctrl == PANEL_INFO) {
                self->PostEvent(panel, PANEL_LOGGER, EVENT_COMMIT);
                f.fault();
            }
            return 0;
        };
        r["MB_COM"] = [&](int, int, int, void*, int, int) {
            log.push_back("tick " + std::to_string(static_cast<int>(clock.now())));
            if (log.size() == 3)
                f.fault();  // the first tick
            return 0;
        };
        ui::PanelModel model(clock, r, VEK_BINARY_DIR);
        model.setPresenter(&popups);
        self = &model;
        const int main = model.LoadPanel(0, kResourceFile, PANEL);
        model.PostEvent(main, PANEL_INFO, EVENT_COMMIT);
        EXPECT_FALSE(model.busy()) << f.what;
        while (clock.now() < 12.0) {
            clock.advanceTo(std::min(model.nextTimerDue(), 12.0));
            model.FireDueTimers();
        }
        EXPECT_EQ(log, (std::vector<std::string>{"button 24", "button 41", "tick 5", "tick 10"}))
            << f.what << ": the event queued behind the fault and the ticks after it still run";
        ASSERT_EQ(popups.popups.size(), 2u) << f.what;
        for (const auto& p : popups.popups) {
            EXPECT_EQ(p.title, "Internal Error");
            EXPECT_EQ(p.text.rfind(f.said, 0), 0u) << p.text;
            EXPECT_FALSE(p.modal) << "a notice: the polling does not wait for the user";
        }
        EXPECT_NE(popups.popups[0].text.find("PANEL/INFO"), std::string::npos) << popups.popups[0].text;
    }
}

TEST_F(ModelTest, EventsForADiscardedPanelOrADimmedControlGoNowhere)
{
    const int a = model.LoadPanel(0, kResourceFile, PANEL);
    model.PostEvent(a, PANEL_UID, EVENT_LEFT_DOUBLE_CLICK);
    ASSERT_EQ(calls.size(), 1u);
    model.SetCtrlAttribute(a, PANEL_UID, ATTR_DIMMED, 1);
    model.PostEvent(a, PANEL_UID, EVENT_LEFT_DOUBLE_CLICK);
    model.DiscardPanel(a);
    model.PostEvent(a, PANEL_EXIT, EVENT_COMMIT);
    EXPECT_EQ(calls.size(), 1u);
}

TEST_F(ModelTest, PicturesAndMissingImages)
{
    const int main = model.LoadPanel(0, kResourceFile, PANEL);
    const int logo = model.NewCtrl(main, CTRL_PICTURE, "", 10, 40);
    ASSERT_GT(logo, 45);
    EXPECT_LT(model.DisplayImageFile(main, logo, "no-such-logo.bmp"), 0);
    EXPECT_FALSE(model.control(main, logo)->imageLoaded);
    EXPECT_EQ(model.DisplayImageFile(main, logo, kResourceFile), 0);  // any existing file resolves
    EXPECT_LT(model.NewCtrl(main, 1, "", 0, 0), 0);
}
