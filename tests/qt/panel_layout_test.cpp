// The layout plan: every control gets exactly one place, whatever the table knows about it.
#include <gtest/gtest.h>

#include <map>

#include "panel_ids.h"
#include "qt/panel_layout.h"
#include "view_fixture.h"

using namespace vek::ui;
using namespace vek::platform;
using namespace vek::ui::qt;
using vek::ui::testing::resourcePanel;

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

TEST(PanelLayout, AControlOrGroupTheTableDoesNotKnowStillGetsAPlace)
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

    Panel stranger;
    stranger.constant = "NOT_OURS";
    stranger.controls = {extraControl(2, "EXIT", Kind::Button), extraControl(3, "VALUE", Kind::Numeric)};
    expectEachPlacedOnce(stranger);
    EXPECT_EQ(PlanPanel(stranger).quitCtrl, 2);
}

TEST(PanelLayout, TheQuitButtonEndsTheRowAndEnterBelongsToTheOneEnterButton)
{
    struct Case {
        int panel, quit, enter;
    };
    for (const Case& c : {Case{PANEL, PANEL_EXIT, 0}, Case{PANEL_3, PANEL_3_EXIT_3, 0}, Case{PANEL_4, PANEL_4_USCITA, 0},
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
