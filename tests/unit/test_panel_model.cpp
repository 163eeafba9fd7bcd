// The panel model against the real resource: what LoadPanel builds, typed values,
// attributes, dispatch order, timers, and the panel state file.
#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "rig.h"

using namespace vek;
using namespace vek::test;
using ui::Value;

namespace {

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string tempPath(const std::string& name)
{
    const auto dir = std::filesystem::temp_directory_path() / ("vek-unit-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    return (dir / name).string();
}

struct ModelTest : ::testing::Test {
    std::vector<CallRecord> calls;
    platform::VirtualClock clock;
    ui::PanelModel model{clock, recordingRegistry(&calls), VEK_BINARY_DIR};
};

}  // namespace

TEST(Resource, HeaderConstantsAndResourceIdsAgreeBothWays)
{
    // Every "inline constexpr int NAME = N;" of the header, against the resource's panels
    // (NAME = panel constant) and controls (NAME = panel constant + "_" + control constant).
    const std::string header = readFile(std::string(VEK_SOURCE_DIR) + "/app/panel_ids.h");
    std::map<std::string, int> fromHeader;
    const std::regex line(R"(inline constexpr int (\w+) = (\d+);)");
    for (auto it = std::sregex_iterator(header.begin(), header.end(), line); it != std::sregex_iterator(); ++it)
        fromHeader[(*it)[1]] = std::stoi((*it)[2]);

    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(readFile(std::string(VEK_SOURCE_DIR) + "/ui/Panel_def.uir")));
    ASSERT_TRUE(doc.isObject());
    std::map<std::string, int> fromResource;
    for (const auto& pv : doc.object()["panels"].toArray()) {
        const auto p = pv.toObject();
        const std::string pc = p["constant"].toString().toStdString();
        fromResource[pc] = p["id"].toInt();
        for (const auto& cv : p["controls"].toArray())
            fromResource[pc + "_" + cv.toObject()["constant"].toString().toStdString()] = cv.toObject()["id"].toInt();
    }
    EXPECT_EQ(fromHeader, fromResource);
    EXPECT_EQ(fromResource.size(), 9u + 159u);
    // The ids the code leans on by number.
    static_assert(PANEL == 3 && PANEL_2 == 4 && PANEL_3 == 5 && PANEL_4 == 6 && DATA_LOG == 1 && WRITE_VAL == 9);
    static_assert(PANEL_EXIT == 23 && PANEL_2_EXIT == 9 && DATA_LOG_EXIT == 2 && WR_ASCII_EXIT == 3);
    static_assert(PANEL_3_CONFIG_INDEX_1 == 22 && PANEL_3_CONFIG_INDEX_6 == 15 && PANEL_4_WIDTH == 49);
}

TEST_F(ModelTest, EveryPanelLoadsWithItsTitleDefaultsAndTimer)
{
    for (int id = 1; id <= 9; ++id)
        EXPECT_GT(model.LoadPanel(0, kResourceFile, id), 0) << id;
    const int main = model.LoadPanel(0, kResourceFile, PANEL);
    int slave = 0;
    model.GetCtrlVal(main, PANEL_SLAVE_ADDRESS, slave);
    EXPECT_EQ(slave, 1);
    EXPECT_EQ(model.panel(main)->title, "----");
    const ui::Control* timer = model.control(main, PANEL_TIMER);
    ASSERT_NE(timer, nullptr);
    EXPECT_DOUBLE_EQ(timer->interval, 5.0);
    EXPECT_TRUE(timer->enabled);
    EXPECT_EQ(model.control(main, PANEL_TEMPERATURE)->label, "Temp. [\xC2\xB0" "C]");

    const int adv = model.LoadPanel(0, kResourceFile, PANEL_3);
    for (int ctrl : {PANEL_3_CONFIG_INDEX_1, PANEL_3_CONFIG_INDEX_8, PANEL_3_CONFIG_INDEX_6}) {
        std::string text;
        model.GetCtrlVal(adv, ctrl, text);
        EXPECT_EQ(text, "*");
    }
    const int user = model.LoadPanel(0, kResourceFile, PANEL_4);
    const ui::Control* safe = model.control(user, PANEL_4_OUTPUT_SAFE_MODE);
    ASSERT_EQ(safe->items.size(), 3u);
    EXPECT_EQ(safe->items[2].label, "21.5 mA");
    EXPECT_EQ(safe->items[2].value, 4);
    EXPECT_EQ(model.control(user, PANEL_4_RL1_TH_ENABLE)->items[0].label, "Enable");
    const int log = model.LoadPanel(0, kResourceFile, DATA_LOG);
    EXPECT_EQ(model.control(log, DATA_LOG_WRITE_TIMER)->items.back().value, 360);
}

TEST_F(ModelTest, LoadFailuresAreNegativeAndEachLoadIsAFreshHandle)
{
    EXPECT_EQ(model.LoadPanel(0, "no-such-resource.uir", PANEL), UIE_RESOURCE_UNREADABLE);
    EXPECT_EQ(model.LoadPanel(0, kResourceFile, 42), UIE_NO_SUCH_PANEL_ID);
    const std::string bad = tempPath("bad.uir");
    std::ofstream(bad) << "{ \"panels\": [ {\"id\": 3, ";
    EXPECT_EQ(model.LoadPanel(0, bad, PANEL), UIE_RESOURCE_UNREADABLE);

    ui::CallbackRegistry partial = recordingRegistry(nullptr);
    partial.erase("MB_COM");
    ui::PanelModel strict(clock, partial, VEK_BINARY_DIR);
    EXPECT_EQ(strict.LoadPanel(0, kResourceFile, PANEL), UIE_UNKNOWN_CALLBACK);
    EXPECT_GT(strict.LoadPanel(0, kResourceFile, INFO), 0) << "panels not naming it still load";

    const int a = model.LoadPanel(0, kResourceFile, PANEL_2);
    const int b = model.LoadPanel(0, kResourceFile, PANEL_2);
    EXPECT_NE(a, b);
    model.DiscardPanel(a);
    EXPECT_EQ(model.SetCtrlVal(a, PANEL_2_COMPORT, 1), UIE_NO_SUCH_PANEL);
    EXPECT_EQ(model.SetCtrlVal(b, PANEL_2_COMPORT, 1), 0);
    EXPECT_NE(model.LoadPanel(0, kResourceFile, PANEL_2), a) << "handles are never reused";
}

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

TEST_F(ModelTest, StateFileKeepsOtherStatesAndRecallsTypedValues)
{
    const std::string file = tempPath("RS_Settings_a");
    std::ofstream(file) << "COMPORT=1\n[2]\nCOMPORT=9\nUNKNOWN=4\n";
    const int rs = model.LoadPanel(0, kResourceFile, PANEL_2);
    model.SetCtrlVal(rs, PANEL_2_COMPORT, 3);
    model.SetCtrlVal(rs, PANEL_2_Porta, 3);
    model.SetCtrlVal(rs, PANEL_2_BAUD_RATE, 1);
    model.SetCtrlVal(rs, PANEL_2_PARITY, 2);
    ASSERT_EQ(model.SavePanelState(rs, file, 0), 0);
    const std::string text = readFile(file);
    EXPECT_NE(text.find("[0]\nPARITY=2\nDATA_BITS=0\nBAUD_RATE=1\nBIT_STOP=0\nCOMPORT=3\nPorta=3\n"), std::string::npos) << text;
    EXPECT_NE(text.find("[2]\nCOMPORT=9\n"), std::string::npos) << "another state survives a save";
    EXPECT_EQ(text.find("EXIT"), std::string::npos) << "buttons carry no value";

    const int fresh = model.LoadPanel(0, kResourceFile, PANEL_2);
    ASSERT_EQ(model.RecallPanelState(fresh, file, 0), 0);
    int port = 0, baud = 0;
    model.GetCtrlVal(fresh, PANEL_2_Porta, port);
    model.GetCtrlVal(fresh, PANEL_2_BAUD_RATE, baud);
    EXPECT_EQ(port, 3);
    EXPECT_EQ(baud, 1);
    ASSERT_EQ(model.RecallPanelState(fresh, file, 2), 0);
    model.GetCtrlVal(fresh, PANEL_2_COMPORT, port);
    EXPECT_EQ(port, 9);
    EXPECT_TRUE(calls.empty()) << "a recall is programmatic: it raises no callback";
}

TEST_F(ModelTest, BrokenStateFilesAreRefusedOrSkippedLineByLine)
{
    const int rs = model.LoadPanel(0, kResourceFile, PANEL_2);
    EXPECT_EQ(model.RecallPanelState(rs, tempPath("does-not-exist"), 0), UIE_STATE_FILE);
    EXPECT_EQ(model.RecallPanelState(rs, std::filesystem::temp_directory_path().string(), 0), UIE_STATE_FILE);
    const std::string file = tempPath("RS_Settings_b");
    std::ofstream(file) << "[1]\nPorta=2\n";
    EXPECT_EQ(model.RecallPanelState(rs, file, 0), UIE_NO_SUCH_STATE);
    std::ofstream(file) << "Porta=12abc\nCOMPORT=\nBAUD_RATE=99999999999999999999\n=\n[x]\n\xff\xfe\nPARITY=1\nPorta=65537\n";
    EXPECT_EQ(model.RecallPanelState(rs, file, 0), 0);
    int port = -1, parity = -1, baud = -1;
    model.GetCtrlVal(rs, PANEL_2_Porta, port);
    model.GetCtrlVal(rs, PANEL_2_PARITY, parity);
    model.GetCtrlVal(rs, PANEL_2_BAUD_RATE, baud);
    EXPECT_EQ(port, 0) << "65537 does not fit the port box: skipped, not wrapped to 1";
    EXPECT_EQ(parity, 1);
    EXPECT_EQ(baud, 0);
    EXPECT_EQ(model.SavePanelState(rs, "/nonexistent-dir/RS_Settings", 0), UIE_STATE_FILE);
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
