// The layout hints of the panel resource: what the reader makes of the real ones, how it
// refuses broken ones (and says where), and panels that give none.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "model_fixture.h"

using namespace vek;
using namespace vek::test;

namespace {

// A dialog with one control of each sort a hint may name, and the given layout.
std::string dialogWith(const std::string& layout)
{
    std::string json = R"({"panels": [{"id": 9, "constant": "DIALOG", "title": "Dialog", )";
    if (!layout.empty())
        json += R"("layout": )" + layout + ", ";
    return json + R"("controls": [
        {"id": 2, "constant": "VALUE", "kind": "numeric", "type": "int", "label": "Value", "group": "G"},
        {"id": 3, "constant": "UNIT", "kind": "textmsg", "text": "mm"},
        {"id": 4, "constant": "TITLE", "kind": "textmsg", "text": "Title"},
        {"id": 5, "constant": "OK", "kind": "button", "label": "OK"},
        {"id": 6, "constant": "EXIT", "kind": "button", "label": "Quit"},
        {"id": 7, "constant": "FRAME", "kind": "decoration"},
        {"id": 8, "constant": "TICK", "kind": "timer", "interval": 1.0}]}]})";
}

struct Refused {
    int rc;
    std::string why;
};

Refused parse(const std::string& layout)
{
    ui::Panel p;
    std::string why;
    const int rc = ui::ParsePanelResource(dialogWith(layout), 9, p, &why);
    return {rc, why};
}

bool noHints(const ui::LayoutHints& h)
{
    return h.header.empty() && h.hidden.empty() && h.buttons.empty() && h.sections.empty() && h.quit == 0 &&
           h.enter == 0;
}

}  // namespace

TEST(LayoutHints, TheResourcesHintsResolveToTheControlsTheyName)
{
    const std::string json = readFile(std::string(VEK_SOURCE_DIR) + "/ui/Panel_def.uir");
    ui::Panel user, main, settings, password;
    ASSERT_EQ(ui::ParsePanelResource(json, PANEL_4, user), 0);
    ASSERT_EQ(ui::ParsePanelResource(json, PANEL, main), 0);
    ASSERT_EQ(ui::ParsePanelResource(json, PANEL_2, settings), 0);
    ASSERT_EQ(ui::ParsePanelResource(json, PASSWORD, password), 0);

    // A value labelled and followed by text messages, in the frame its title names.
    ASSERT_EQ(user.layout.sections.size(), 5u);
    const ui::SectionHint& rl1 = user.layout.sections[1];
    EXPECT_EQ(rl1.titleMsg, PANEL_4_TEXTMSG_2);
    ASSERT_EQ(rl1.rows.size(), 5u);
    EXPECT_EQ(rl1.rows[3].ctrl, PANEL_4_RL1_TH_VAL);
    EXPECT_EQ(rl1.rows[3].label, PANEL_4_TEXTMSG_7);
    EXPECT_EQ(rl1.rows[3].unit, PANEL_4_RL1_TH_UNIT);
    EXPECT_EQ(rl1.rows[4].label, 0);
    EXPECT_EQ(rl1.rows[4].unit, PANEL_4_SYMB_SEC);
    EXPECT_EQ(user.layout.sections[3].column, 1);
    EXPECT_EQ(user.layout.quit, PANEL_4_USCITA);

    EXPECT_EQ(main.layout.header, std::vector<int>{PANEL_TEXTMSG_7});
    EXPECT_EQ(main.layout.buttons, (std::vector<int>{PANEL_CONFIG_SER_PORT, PANEL_SET_UP_UT, PANEL_SET_UP, PANEL_LOGGER,
                                                     PANEL_TRAFFIC, PANEL_TREND, PANEL_INFO}));
    ASSERT_EQ(main.layout.sections.size(), 5u);
    EXPECT_EQ(main.layout.sections[4].group, "Error Messages");
    EXPECT_TRUE(main.layout.sections[4].wide);
    EXPECT_EQ(main.layout.enter, 0);

    EXPECT_EQ(settings.layout.hidden, std::vector<int>{PANEL_2_Porta});
    EXPECT_EQ(password.layout.enter, PASSWORD_ENTER);
    EXPECT_EQ(password.layout.quit, PASSWORD_EXIT);
}

TEST(LayoutHints, APanelWithoutHintsReadsWithNoneAndLoads)
{
    for (const std::string layout : {"", "{}", R"({"note": "arranged by default"})"}) {
        SCOPED_TRACE(layout);
        ui::Panel p;
        ASSERT_EQ(ui::ParsePanelResource(dialogWith(layout), 9, p), 0);
        EXPECT_TRUE(noHints(p.layout));
        EXPECT_EQ(p.controls.size(), 7u);
    }
    // Empty lists and an empty section are hints that say nothing, not mistakes.
    ui::Panel p;
    ASSERT_EQ(ui::ParsePanelResource(dialogWith(R"({"header": [], "buttons": [], "sections": [{}]})"), 9, p), 0);
    ASSERT_EQ(p.layout.sections.size(), 1u);
    EXPECT_EQ(p.layout.sections[0].split, 1);
    EXPECT_TRUE(p.layout.sections[0].group.empty());
}

TEST(LayoutHints, HintsNamingAControlThePanelLacksRefuseThePanelAndNameIt)
{
    struct Case {
        const char* layout;
        const char* where;
    };
    for (const Case& c :
         {Case{R"({"header": ["NOPE"]})", "layout.header[0]"},
          Case{R"({"hidden": ["OK", "NOPE"]})", "layout.hidden[1]"},
          Case{R"({"buttons": ["NOPE"]})", "layout.buttons[0]"}, Case{R"({"quit": "NOPE"})", "layout.quit"},
          Case{R"({"enter": "NOPE"})", "layout.enter"},
          Case{R"({"sections": [{"titleMsg": "NOPE"}]})", "layout.sections[0].titleMsg"},
          Case{R"({"sections": [{}, {"rows": ["VALUE", "NOPE"]}]})", "layout.sections[1].rows[1]"},
          Case{R"({"sections": [{"rows": [{"ctrl": "NOPE"}]}]})", "layout.sections[0].rows[0].ctrl"},
          Case{R"({"sections": [{"rows": [{"ctrl": "VALUE", "label": "NOPE"}]}]})", "layout.sections[0].rows[0].label"},
          Case{R"({"sections": [{"rows": [{"ctrl": "VALUE", "unit": "NOPE"}]}]})", "layout.sections[0].rows[0].unit"},
          // Constants are names as written: another case is another control.
          Case{R"({"quit": "exit"})", "layout.quit"}}) {
        SCOPED_TRACE(c.layout);
        const Refused r = parse(c.layout);
        EXPECT_EQ(r.rc, UIE_RESOURCE_UNREADABLE);
        EXPECT_NE(r.why.find("panel DIALOG"), std::string::npos) << r.why;
        EXPECT_NE(r.why.find(std::string(c.where) + ": no control"), std::string::npos) << r.why;
    }
}

TEST(LayoutHints, MalformedHintsRefuseThePanelAndSayWhatIsWrongWhere)
{
    struct Case {
        const char* layout;
        const char* why;
    };
    for (const Case& c : {
             Case{R"([])", "layout: expected an object"},
             Case{R"({"colums": 2})", "layout: unknown hint \"colums\""},
             Case{R"({"note": 5})", "layout.note: expected text"},
             Case{R"({"header": "TITLE"})", "layout.header: expected a list"},
             Case{R"({"header": [4]})", "layout.header[0]: expected a control's constant"},
             Case{R"({"header": ["TICK"]})", "layout.header[0]: \"TICK\" is a timer"},
             Case{R"({"quit": "VALUE"})", "layout.quit: \"VALUE\" is a numeric, not a button"},
             Case{R"({"enter": "UNIT"})", "layout.enter: \"UNIT\" is a text message, not a button"},
             Case{R"({"buttons": ["OK", "TITLE"]})", "layout.buttons[1]: \"TITLE\" is a text message, not a button"},
             // The quit button always ends the row, so listing it too would place it twice.
             Case{R"({"quit": "EXIT", "buttons": ["OK", "EXIT"]})",
                  "layout.buttons[1]: \"EXIT\" is placed already, at layout.quit"},
             Case{R"({"header": ["TITLE"], "sections": [{"rows": ["TITLE"]}]})",
                  "layout.sections[0].rows[0]: \"TITLE\" is placed already, at layout.header[0]"},
             Case{R"({"sections": [{"rows": ["VALUE"]}, {"rows": [{"ctrl": "VALUE"}]}]})",
                  "is placed already, at layout.sections[0].rows[0]"},
             Case{R"({"sections": [{"rows": [{"ctrl": "VALUE", "label": "UNIT", "unit": "UNIT"}]}]})",
                  "layout.sections[0].rows[0].unit: \"UNIT\" is placed already"},
             Case{R"({"sections": "VALUE"})", "layout.sections: expected a list"},
             Case{R"({"sections": [5]})", "layout.sections[0]: expected an object"},
             Case{R"({"sections": [{"colour": "red"}]})", "layout.sections[0]: unknown hint \"colour\""},
             Case{R"({"sections": [{"column": -1}]})",
                  "layout.sections[0].column: expected a whole number from 0 to 7"},
             Case{R"({"sections": [{"column": 1.5}]})", "layout.sections[0].column: expected a whole number"},
             Case{R"({"sections": [{"column": "1"}]})", "layout.sections[0].column: expected a whole number"},
             Case{R"({"sections": [{"column": 8}]})", "layout.sections[0].column: expected a whole number"},
             Case{R"({"sections": [{"column": 1e300}]})", "layout.sections[0].column: expected a whole number"},
             Case{R"({"sections": [{"split": 0}]})", "layout.sections[0].split: expected a whole number from 1 to 8"},
             Case{R"({"sections": [{"wide": 1}]})", "layout.sections[0].wide: expected true or false"},
             Case{R"({"sections": [{"horizontal": "yes"}]})", "layout.sections[0].horizontal: expected true or false"},
             Case{R"({"sections": [{"note": ["x"]}]})", "layout.sections[0].note: expected text"},
             Case{R"({"sections": [{"group": ""}]})", "layout.sections[0].group: expected a group's name"},
             Case{R"({"sections": [{"group": 7}]})", "layout.sections[0].group: expected a group's name"},
             Case{R"({"sections": [{"group": "Nowhere"}]})", "no control carries the group \"Nowhere\""},
             Case{R"({"sections": [{"group": "G"}, {"group": "G"}]})",
                  "layout.sections[1].group: \"G\" has its section already, at layout.sections[0]"},
             Case{R"({"sections": [{"titleMsg": "VALUE"}]})", "\"VALUE\" is a numeric, not a text message"},
             Case{R"({"sections": [{"rows": {"ctrl": "VALUE"}}]})", "layout.sections[0].rows: expected a list"},
             Case{R"({"sections": [{"rows": [{"label": "TITLE"}]}]})",
                  "layout.sections[0].rows[0]: a row needs its \"ctrl\""},
             Case{R"({"sections": [{"rows": [{"ctrl": "VALUE", "units": "UNIT"}]}]})",
                  "layout.sections[0].rows[0]: unknown hint \"units\""},
             Case{R"({"sections": [{"rows": [{"ctrl": "VALUE", "unit": "OK"}]}]})",
                  "\"OK\" is a button, not a text message"},
             Case{R"({"sections": [{"rows": ["FRAME"]}]})", "\"FRAME\" is a decoration, which has no place here"},
             Case{R"({"sections": [{"rows": [{"ctrl": "VALUE", "beside": "UNIT"}]}]})",
                  "layout.sections[0].rows[0].beside: \"UNIT\" is a text message, not a button"},
             Case{R"({"sections": [{"rows": [{"ctrl": "VALUE", "unit": "UNIT", "beside": "OK"}]}]})",
                  "a unit or a button beside it, not both"},
             Case{R"({"quit": "EXIT", "sections": [{"rows": [{"ctrl": "VALUE", "beside": "EXIT"}]}]})",
                  "\"EXIT\" is placed already, at layout.quit"},
             Case{R"({"sections": [{"rows": [7]}]})",
                  "layout.sections[0].rows[0]: expected a control's constant or {\"ctrl\""},
         }) {
        SCOPED_TRACE(c.layout);
        const Refused r = parse(c.layout);
        EXPECT_EQ(r.rc, UIE_RESOURCE_UNREADABLE);
        EXPECT_NE(r.why.find(c.why), std::string::npos) << r.why;
    }
}

TEST_F(ModelTest, LoadPanelSaysWhyItRefusedAndForgetsItOnceALoadSucceeds)
{
    const std::string bad = tempPath("bad_hint.uir");
    std::ofstream(bad) << dialogWith(R"({"sections": [{"rows": ["VALUE", "VALEU"]}]})");
    EXPECT_EQ(model.LoadPanel(0, bad, 9), UIE_RESOURCE_UNREADABLE);
    EXPECT_NE(model.loadError().find(bad), std::string::npos) << model.loadError();
    EXPECT_NE(model.loadError().find("panel DIALOG, layout.sections[0].rows[1]: no control \"VALEU\""),
              std::string::npos)
        << model.loadError();

    EXPECT_GT(model.LoadPanel(0, kResourceFile, WRITE_VAL), 0);
    EXPECT_EQ(model.loadError(), "");

    // The other refusals say why too: a missing file, a panel id not there, an unknown callback.
    EXPECT_EQ(model.LoadPanel(0, "no-such-resource.uir", PANEL), UIE_RESOURCE_UNREADABLE);
    EXPECT_NE(model.loadError().find("no-such-resource.uir: not found"), std::string::npos) << model.loadError();
    EXPECT_EQ(model.LoadPanel(0, kResourceFile, 42), UIE_NO_SUCH_PANEL_ID);
    EXPECT_NE(model.loadError().find("no panel with id 42"), std::string::npos) << model.loadError();
    ui::CallbackRegistry partial = recordingRegistry(nullptr);
    partial.erase("MB_COM");
    ui::PanelModel strict(clock, partial, VEK_BINARY_DIR);
    EXPECT_EQ(strict.LoadPanel(0, kResourceFile, PANEL), UIE_UNKNOWN_CALLBACK);
    EXPECT_NE(strict.loadError().find("control TIMER: no callback \"MB_COM\""), std::string::npos)
        << strict.loadError();
}
