// The register map against the panel resource: every entry names a control that exists in
// its window, that can show the register's type, and whose callback writes it the way the
// entry says; and no writable control of the resource is missing from the map.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "register_map.h"
#include "rig.h"

using namespace vek;
using namespace vek::test;

namespace {

// The callback that writes a control of window `panelId` the way `how` says.
std::string writerOf(int panelId, WriteBy how)
{
    switch (how) {
    case WriteBy::NumberDialog:
    case WriteBy::Never:  // a double-click still reaches the writer, which refuses it
        return panelId == PANEL ? "Write_Value" : panelId == PANEL_4 ? "Write_Value_1" : "Write_Value_2";
    case WriteBy::AtOnce: return "Write_Value_3";
    case WriteBy::CharacterDialog: return "Write_Ascii";
    }
    return {};
}

bool showsType(const ui::Control& c, RegType t)
{
    switch (t) {
    case RegType::Word:
        return c.type == ui::DataType::Int || c.type == ui::DataType::Short || c.type == ui::DataType::UInt ||
               c.type == ui::DataType::UShort;
    case RegType::Float: return c.type == ui::DataType::Float || c.type == ui::DataType::Double;
    case RegType::Character:
    case RegType::ModelCode: return c.type == ui::DataType::String;
    }
    return false;
}

}  // namespace

TEST(RegisterMap, EveryEntryIsAControlOfItsWindowThatShowsItsTypeAndIsWrittenByTheRightCallback)
{
    Rig rig;
    std::map<int, int> handles;
    for (int id : {PANEL, PANEL_3, PANEL_4})
        handles[id] = rig.panels.LoadPanel(0, kResourceFile, id);
    std::set<std::pair<int, int>> seen;
    std::set<int> written;
    for (const RegisterEntry& e : RegisterMap()) {
        SCOPED_TRACE(std::string(e.name) + " (register " + std::to_string(e.reg) + ")");
        ASSERT_TRUE(handles.count(e.panelId));
        const ui::Control* c = rig.panels.control(handles[e.panelId], e.ctrl);
        ASSERT_NE(c, nullptr) << "no such control in its window";
        EXPECT_TRUE(showsType(*c, e.type)) << c->constant;
        const int last = e.type == RegType::Float ? e.reg + 1 : e.reg;
        EXPECT_TRUE(e.reg >= 1 && last <= reg::kPolled) << "outside the poll's 78 registers";
        EXPECT_TRUE(seen.insert({e.panelId, e.ctrl}).second) << "a control shows two registers";
        EXPECT_LE(e.min, e.max);
        if (e.write != WriteBy::Never) {
            EXPECT_TRUE(written.insert(e.reg).second) << "two controls write the same register";
            EXPECT_TRUE(e.min >= 0 && e.max <= 0xFFFF);
        }
        if (e.write != WriteBy::Never || !c->callbackName.empty()) {
            EXPECT_EQ(c->callbackName, writerOf(e.panelId, e.write)) << c->constant;
        }
    }
}

TEST(RegisterMap, NoControlWithAWriterIsMissingFromTheMap)
{
    Rig rig;
    const std::set<std::string> writers = {"Write_Value", "Write_Value_1", "Write_Value_2", "Write_Value_3",
                                           "Write_Ascii"};
    for (int id : {PANEL, PANEL_3, PANEL_4}) {
        const int h = rig.panels.LoadPanel(0, kResourceFile, id);
        const ui::Panel* p = rig.panels.panel(h);
        ASSERT_NE(p, nullptr);
        for (const ui::Control& c : p->controls)
            if (writers.count(c.callbackName)) {
                EXPECT_NE(FindRegister(id, c.id), nullptr) << c.constant << " has a writer but no register";
            }
    }
}

TEST(RegisterMap, NamedRegistersKeepTheirNumbers)
{
    // Registers the rest of the program names directly, against numbers read off the
    // transmitter's register list rather than out of our own table.
    EXPECT_EQ(FindRegister(PANEL, PANEL_UID)->reg, 25);
    EXPECT_EQ(FindRegister(PANEL_3, PANEL_3_CONFIG_INDEX_8)->reg, 36);
    EXPECT_EQ(FindRegister(PANEL_4, PANEL_4_MB_BAUD_RATE)->reg, 75);
    EXPECT_EQ(FindRegister(PANEL_3, PANEL_3_ALPHA)->reg, 21);
    EXPECT_EQ(FindRegister(PANEL_3, PANEL_3_ALPHA)->write, WriteBy::Never);
    EXPECT_EQ(FindRegister(PANEL, PANEL_UID)->max, 247);
    EXPECT_EQ(FindRegister(PANEL, PANEL_N_POLLS), nullptr) << "a counter is no register";
}
