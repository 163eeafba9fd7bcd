// The layout plan: every control gets exactly one place, whatever the hints say about it;
// the hints alone decide the arrangement, and a panel without any still gets one.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <fstream>
#include <map>

#include "panel_ids.h"
#include "qt/panel_layout.h"
#include "view_fixture.h"

using namespace vek::ui;
using namespace vek::platform;
using namespace vek::ui::qt;
using vek::ui::testing::resourcePanel;
using vek::ui::testing::ViewTest;

namespace {

std::map<int, int> placements(const PanelPlan& plan)
{
    std::map<int, int> n;
    auto add = [&](int id) {
        if (id)
            ++n[id];
    };
    for (int id : plan.header)
        add(id);
    for (int id : plan.buttons)
        add(id);
    for (int id : plan.hidden)
        add(id);
    for (const auto& s : plan.sections) {
        add(s.titleCtrl);
        for (int id : s.side)
            add(id);
        for (const auto& r : s.rows) {
            add(r.ctrl);
            add(r.label);
            add(r.unit);
            add(r.lamp);
        }
    }
    return n;
}

void expectEachPlacedOnce(const Panel& p)
{
    const auto n = placements(PlanPanel(p));
    EXPECT_EQ(n.size(), p.controls.size());
    for (const auto& c : p.controls) {
        auto it = n.find(c.id);
        EXPECT_TRUE(it != n.end() && it->second == 1) << c.constant;
    }
}

const SectionPlan* sectionHolding(const PanelPlan& plan, int ctrl)
{
    for (const auto& s : plan.sections)
        for (const auto& r : s.rows)
            if (r.ctrl == ctrl)
                return &s;
    return nullptr;
}

Panel parsed(const std::string& json)
{
    Panel p;
    std::string why;
    EXPECT_EQ(ParsePanelResource(json, 1, p, &why), 0) << why;
    return p;
}

std::vector<int> rowCtrls(const SectionPlan& s)
{
    std::vector<int> out;
    for (const auto& r : s.rows)
        out.push_back(r.ctrl);
    return out;
}

// Named after no panel of ours, with a button called EXIT and one labelled Enter: nothing
// about it may be guessed from names.
const char* kPlainPanel = R"({"panels": [{"id": 1, "constant": "PLAIN", "title": "Plain", "controls": [
    {"id": 2, "constant": "EXIT", "kind": "button", "label": "Quit", "callback": "Get_Buttons"},
    {"id": 3, "constant": "LEVEL", "kind": "numeric", "label": "Level", "group": "Measure"},
    {"id": 4, "constant": "NOTE", "kind": "textmsg", "text": "Hello"},
    {"id": 5, "constant": "TANK", "kind": "tank", "label": "Tank", "group": "Measure"},
    {"id": 6, "constant": "TICK", "kind": "timer", "interval": 1.0},
    {"id": 7, "constant": "STATE", "kind": "string", "label": "State", "group": "Status"},
    {"id": 8, "constant": "BOX", "kind": "decoration"},
    {"id": 9, "constant": "ENTER", "kind": "button", "label": "Enter", "callback": "Get_Buttons"},
    {"id": 10, "constant": "NAME", "kind": "string", "mode": "input", "label": "Name"}]}]})";

Control extraControl(int id, const char* constant, Kind kind, const char* group = "")
{
    Control c;
    c.id = id;
    c.constant = constant;
    c.kind = kind;
    c.type = DataType::String;
    c.indicator = true;
    c.label = constant;
    c.group = group;
    return c;
}

}  // namespace

TEST(PanelLayout, EveryControlOfEveryPanelIsPlacedExactlyOnce)
{
    for (int id = 1; id <= 9; ++id) {
        SCOPED_TRACE("panel " + std::to_string(id));
        expectEachPlacedOnce(resourcePanel(id));
    }
}

TEST(PanelLayout, AControlOrGroupTheHintsDoNotNameStillGetsAPlace)
{
    Panel settings = resourcePanel(PANEL_2);
    settings.controls.push_back(extraControl(50, "DEVICE", Kind::String));
    expectEachPlacedOnce(settings);
    EXPECT_NE(sectionHolding(PlanPanel(settings), 50), nullptr);

    Panel main = resourcePanel(PANEL);
    main.controls.push_back(extraControl(60, "DIAG", Kind::String, "Diagnostics"));
    expectEachPlacedOnce(main);
    const PanelPlan mainPlan = PlanPanel(main);
    const SectionPlan* s = sectionHolding(mainPlan, 60);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->title, "Diagnostics");

    // A panel built by hand without hints: its EXIT is an ordinary button, since no button
    // is the quit button by its name alone.
    Panel stranger;
    stranger.constant = "NOT_OURS";
    stranger.controls = {extraControl(2, "EXIT", Kind::Button), extraControl(3, "VALUE", Kind::Numeric)};
    expectEachPlacedOnce(stranger);
    EXPECT_EQ(PlanPanel(stranger).quitCtrl, 0);
    EXPECT_EQ(PlanPanel(stranger).buttons, std::vector<int>{2});
    // Hints naming ids the panel lacks (a panel put together by hand) are passed over.
    stranger.layout.quit = 3;  // not a button
    stranger.layout.header = {99};
    SectionHint ghost;
    ghost.rows.push_back(RowHint{98, 0, 0});
    stranger.layout.sections = {ghost};
    expectEachPlacedOnce(stranger);
    EXPECT_EQ(PlanPanel(stranger).quitCtrl, 0);
}

TEST(PanelLayout, TheQuitButtonEndsTheRowAndEnterPressesTheButtonTheHintsName)
{
    struct Case {
        int panel, quit, enter;
    };
    for (const Case& c :
         {Case{PANEL, PANEL_EXIT, 0}, Case{PANEL_3, PANEL_3_EXIT_3, 0}, Case{PANEL_4, PANEL_4_USCITA, 0},
          Case{PASSWORD, PASSWORD_EXIT, PASSWORD_ENTER}, Case{WR_ASCII, WR_ASCII_EXIT, WR_ASCII_CONF_VAL},
          Case{WRITE_VAL, WRITE_VAL_EXIT, WRITE_VAL_CONF_VAL}}) {
        SCOPED_TRACE("panel " + std::to_string(c.panel));
        const PanelPlan plan = PlanPanel(resourcePanel(c.panel));
        EXPECT_EQ(plan.quitCtrl, c.quit);
        ASSERT_FALSE(plan.buttons.empty());
        EXPECT_EQ(plan.buttons.back(), c.quit);
        EXPECT_EQ(plan.enterCtrl, c.enter);
    }
}

TEST(PanelLayout, AnUnlabelledLampStandsBesideTheMessageAfterIt)
{
    const PanelPlan plan = PlanPanel(resourcePanel(PANEL));
    std::map<int, int> lampOf;
    for (const auto& s : plan.sections)
        for (const auto& r : s.rows)
            lampOf[r.ctrl] = r.lamp;
    EXPECT_EQ(lampOf[PANEL_ERROR_COM_MSG], PANEL_ERROR_COMM_LED);
    EXPECT_EQ(lampOf[PANEL_ERROR_MSG], PANEL_ERROR_MSG_LED);
    EXPECT_EQ(lampOf[PANEL_RL1_LED], 0);  // labelled lamps keep rows of their own
}

TEST(PanelLayout, HintsAloneDecideFramesColumnsRowsAndButtons)
{
    const Panel p = parsed(R"({"panels": [{"id": 1, "constant": "GAUGE", "title": "Gauge", "layout": {
        "header": ["HEAD"], "hidden": ["SPARE"], "buttons": ["SAVE", "APPLY"], "quit": "CLOSE", "enter": "APPLY",
        "sections": [
          {"group": "Live", "column": 1, "rows": ["B"]},
          {"titleMsg": "SETUP_TITLE", "split": 2, "rows": [{"ctrl": "LIMIT", "label": "LIMIT_TEXT", "unit": "LIMIT_UNIT"}, "A"]},
          {"group": "Faults", "wide": true}]},
      "controls": [
        {"id": 2, "constant": "CLOSE", "kind": "button", "label": "Close"},
        {"id": 3, "constant": "APPLY", "kind": "button", "label": "Apply"},
        {"id": 4, "constant": "SAVE", "kind": "button", "label": "Save"},
        {"id": 5, "constant": "A", "kind": "numeric", "label": "A", "group": "Live"},
        {"id": 6, "constant": "B", "kind": "numeric", "label": "B", "group": "Live"},
        {"id": 7, "constant": "C", "kind": "numeric", "label": "C", "group": "Live"},
        {"id": 8, "constant": "LIMIT", "kind": "numeric", "label": ""},
        {"id": 9, "constant": "LIMIT_TEXT", "kind": "textmsg", "text": "Limit"},
        {"id": 10, "constant": "LIMIT_UNIT", "kind": "textmsg", "text": "mm"},
        {"id": 11, "constant": "SETUP_TITLE", "kind": "textmsg", "text": "Set up"},
        {"id": 12, "constant": "HEAD", "kind": "textmsg", "text": "GAUGE"},
        {"id": 13, "constant": "SPARE", "kind": "numeric"},
        {"id": 14, "constant": "FAULT_LAMP", "kind": "led", "label": "", "group": "Faults"},
        {"id": 15, "constant": "FAULT_TEXT", "kind": "string", "group": "Faults"},
        {"id": 16, "constant": "LATE", "kind": "string"}]}]})");
    expectEachPlacedOnce(p);
    const PanelPlan plan = PlanPanel(p);
    EXPECT_EQ(plan.header, std::vector<int>{12});
    EXPECT_EQ(plan.hidden, std::vector<int>{13});
    EXPECT_EQ(plan.buttons, (std::vector<int>{4, 3, 2}));
    EXPECT_EQ(plan.quitCtrl, 2);
    EXPECT_EQ(plan.enterCtrl, 3);
    EXPECT_EQ(plan.columns, 2);
    ASSERT_EQ(plan.sections.size(), 3u);

    // A, though of the group Live, stays in the row the hints give it, in a later frame.
    const SectionPlan& live = plan.sections[0];
    EXPECT_EQ(live.title, "Live");
    EXPECT_EQ(live.column, 1);
    EXPECT_EQ(rowCtrls(live), (std::vector<int>{6, 7}));

    const SectionPlan& setup = plan.sections[1];
    EXPECT_EQ(setup.titleCtrl, 11);
    EXPECT_EQ(setup.column, 0);
    EXPECT_EQ(setup.split, 2);
    ASSERT_EQ(setup.rows.size(), 2u);
    EXPECT_EQ(setup.rows[0].ctrl, 8);
    EXPECT_EQ(setup.rows[0].label, 9);
    EXPECT_EQ(setup.rows[0].unit, 10);
    EXPECT_EQ(setup.rows[1].ctrl, 5);

    // The control no hint names ends the last frame; the lamp stands beside its message.
    const SectionPlan& faults = plan.sections[2];
    EXPECT_TRUE(faults.wide);
    EXPECT_EQ(rowCtrls(faults), (std::vector<int>{15, 16}));
    EXPECT_EQ(faults.rows[0].lamp, 14);
}

TEST(PanelLayout, APanelWithoutHintsGetsAFramePerGroupAndGuessesNothingFromNames)
{
    const Panel p = parsed(kPlainPanel);
    expectEachPlacedOnce(p);
    const PanelPlan plan = PlanPanel(p);
    EXPECT_EQ(plan.hidden, (std::vector<int>{6, 8}));
    EXPECT_TRUE(plan.header.empty());
    EXPECT_EQ(plan.columns, 1);
    ASSERT_EQ(plan.sections.size(), 2u);
    EXPECT_EQ(plan.sections[0].title, "Measure");
    EXPECT_EQ(rowCtrls(plan.sections[0]), std::vector<int>{3});
    EXPECT_EQ(plan.sections[0].side, std::vector<int>{5});
    EXPECT_EQ(plan.sections[1].title, "Status");
    EXPECT_EQ(rowCtrls(plan.sections[1]), (std::vector<int>{7, 4, 10}));
    EXPECT_EQ(plan.buttons, (std::vector<int>{2, 9}));
    EXPECT_EQ(plan.quitCtrl, 0);
    EXPECT_EQ(plan.enterCtrl, 0);
}

TEST_F(ViewTest, AWindowWithoutHintsShowsEveryControlAndClosingItOnlyHidesIt)
{
    QTemporaryDir dir;
    const std::string file = dir.filePath("plain.uir").toStdString();
    std::ofstream(file) << kPlainPanel;
    const int h = model.LoadPanel(0, file, 1);
    ASSERT_GT(h, 0) << model.loadError();
    ASSERT_EQ(model.DisplayPanel(h), 0);
    QWidget* win = view.window(h);
    ASSERT_NE(win, nullptr);
    for (const auto& c : model.panel(h)->controls) {
        SCOPED_TRACE(c.constant);
        QWidget* w = widget(h, c.constant.c_str());
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->isVisibleTo(win), c.kind != Kind::Timer && c.kind != Kind::Decoration);
    }
    win->close();
    EXPECT_FALSE(win->isVisible());
    EXPECT_FALSE(model.panel(h)->visible);
    EXPECT_TRUE(calls.empty()) << "no button is pressed for a window that names no quit button";
}
