// Configuration writes through the whole program: what the user does on the three windows,
// the exact Write Single Register frame that leaves the port, the dialogs, the refusals,
// and what the main window says about the echo. A scripted transmitter answers on the
// in-memory line and keeps a register image, so a write can be read back by the next poll.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "app_rig.h"

using namespace vek;
using namespace vek::test;
using ui::Value;

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string hex(const Bytes& b)
{
    std::string s;
    char buf[4];
    for (std::size_t i = 0; i < b.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02X", b[i]);
        s += (i ? " " : "") + std::string(buf);
    }
    return s;
}

struct Writes : TransmitterTest {
    int openUser() { return r.openUser(); }
    int openAdvanced()
    {
        const int h = r.openAdvanced();
        EXPECT_NE(app.st.advancedPanelOpen, 0) << "the password gate let us in";
        return h;
    }
    // The window holding `panelId`, opened the way the user opens it.
    int open(int panelId)
    {
        if (panelId == PANEL_4)
            return openUser();
        if (panelId == PANEL_3)
            return openAdvanced();
        return app.st.panelMain;
    }

    std::vector<int> shownDialogs() const
    {
        std::vector<int> out;
        for (int h : panels.handles())
            if (const ui::Panel* p = panels.panel(h); p && p->visible && (p->id == WRITE_VAL || p->id == WR_ASCII))
                out.push_back(h);
        return out;
    }
    int dialog() const { return app.st.panelWriteDialog; }
    long long number(int panel, int ctrl) const
    {
        long long v = -1;
        panels.GetCtrlVal(panel, ctrl, v);
        return v;
    }
    std::string text(int panel, int ctrl) const
    {
        std::string v;
        panels.GetCtrlVal(panel, ctrl, v);
        return v;
    }
    std::string label(int panel, int ctrl) const
    {
        Value v;
        panels.GetCtrlAttribute(panel, ctrl, ATTR_LABEL_TEXT, v);
        return std::holds_alternative<std::string>(v) ? std::get<std::string>(v) : std::string();
    }
    // Types a number into the open write dialog and presses "Enter".
    void enterValue(long long v)
    {
        ASSERT_EQ(panels.UserSetValue(dialog(), WRITE_VAL_WRITE_VALUE, Value(v)), 0) << v;
        panels.PostEvent(dialog(), WRITE_VAL_CONF_VAL, EVENT_COMMIT);
    }
    void enterText(const std::string& t)
    {
        ASSERT_EQ(panels.UserSetValue(dialog(), WR_ASCII_STRING, Value(t)), 0) << t;
        panels.PostEvent(dialog(), WR_ASCII_CONF_VAL, EVENT_COMMIT);
    }
    std::string lastFrame() const { return r.com.frames.empty() ? "" : hex(r.com.frames.back()); }
};

// --- every dialog-written numeric of the three windows ---

struct DialogCase {
    const char* name;
    int panelId, ctrl, reg;
};

const DialogCase kDialogCases[] = {
    {"UID", PANEL, PANEL_UID, 25},
    {"BLIND_DISTANCE", PANEL, PANEL_BLIND_DISTANCE, 15},
    {"DISTANCE_20MA", PANEL, PANEL_DISTANCE_20MA, 12},
    {"DISTANCE_4MA", PANEL, PANEL_DISTANCE_4MA, 11},
    {"RL1_PUMP_DELAY", PANEL_4, PANEL_4_RL1_PUMP_DELAY, 43},
    {"RL1_PUMP_LOWER", PANEL_4, PANEL_4_RL1_PUMP_LOWER, 73},
    {"RL1_PUMP_UPPER", PANEL_4, PANEL_4_RL1_PUMP_UPPER, 72},
    {"RL2_TH_DELAY", PANEL_4, PANEL_4_RL2_TH_DELAY, 40},
    {"RL1_TH_DELAY", PANEL_4, PANEL_4_RL1_TH_DELAY, 38},
    {"RL2_TH_VAL", PANEL_4, PANEL_4_RL2_TH_VAL, 71},
    {"RL1_TH_VAL", PANEL_4, PANEL_4_RL1_TH_VAL, 70},
    {"FILTER_COEFF", PANEL_4, PANEL_4_FILTER_COEFF, 23},
    {"FROZENGAIN", PANEL_4, PANEL_4_FROZENGAIN, 17},
    {"MAXGAIN_TH", PANEL_4, PANEL_4_MAXGAIN_TH, 16},
    {"WIDTH", PANEL_4, PANEL_4_WIDTH, 66},
    {"MINDELTA", PANEL_3, PANEL_3_MINDELTA, 28},
    {"CYCLES_NUM", PANEL_3, PANEL_3_CYCLES_NUM, 27},
    {"EMISSION_TIME", PANEL_3, PANEL_3_EMISSION_TIME, 26},
    {"EPOT_20C", PANEL_3, PANEL_3_EPOT_20C, 24},
    {"Z_VALUE", PANEL_3, PANEL_3_Z_VALUE, 18},
    {"DAC_20MA", PANEL_3, PANEL_3_DAC_20MA, 14},
    {"DAC_4MA", PANEL_3, PANEL_3_DAC_4MA, 13},
    {"FREQUENCY", PANEL_3, PANEL_3_FREQUENCY, 76},
    {"TEMPERATURE", PANEL_3, PANEL_3_TEMPERATURE, 77},
};

void PrintTo(const DialogCase& c, std::ostream* os) { *os << c.name; }

struct DialogWrite : Writes, ::testing::WithParamInterface<DialogCase> {};

TEST_P(DialogWrite, DoubleClickOffersTheCurrentValueAndEnterWritesTheTypedOneToThatRegister)
{
    const DialogCase& c = GetParam();
    const auto current = static_cast<std::uint16_t>(300 + c.reg);
    r.regs[c.reg - 1] = current;
    const int panel = open(c.panelId);
    r.tick();
    ASSERT_EQ(number(panel, c.ctrl), current) << "the window shows the transmitter's value";

    const std::size_t framesBefore = r.com.frames.size();
    panels.PostEvent(panel, c.ctrl, EVENT_LEFT_DOUBLE_CLICK);
    ASSERT_EQ(shownDialogs(), std::vector<int>{dialog()});
    ASSERT_EQ(panels.panel(dialog())->id, WRITE_VAL);
    EXPECT_EQ(number(dialog(), WRITE_VAL_WRITE_VALUE), current);
    EXPECT_NE(label(dialog(), WRITE_VAL_WRITE_VALUE).find("register " + std::to_string(c.reg) + ")"), std::string::npos)
        << label(dialog(), WRITE_VAL_WRITE_VALUE);
    EXPECT_EQ(r.com.frames.size(), framesBefore) << "opening the dialog sends nothing";

    // High and low bytes differ, so a swapped value cannot pass (the UID takes 1 to 247 only).
    const auto typed = static_cast<std::uint16_t>(c.reg == 25 ? 200 : 0xA500 | c.reg);
    const int pollsBefore = app.link.pollCount;
    enterValue(typed);
    ASSERT_EQ(r.com.frames.size(), framesBefore + 1);
    EXPECT_EQ(lastFrame(), hex(expectedWrite(1, c.reg, typed)));
    EXPECT_EQ(app.link.pollCount, pollsBefore + 1);
    EXPECT_EQ(app.link.ucFuncCod, 3);
    EXPECT_EQ(r.mainMessage(), "");
    EXPECT_EQ(r.regs[c.reg - 1], typed);
    EXPECT_EQ(shownDialogs(), std::vector<int>{dialog()}) << "the dialog stays open for another write";

    r.tick();
    EXPECT_EQ(lastFrame(), hex(expectedPoll(1)));
    EXPECT_EQ(number(panel, c.ctrl), typed) << "the next poll reads the written value back";
}

INSTANTIATE_TEST_SUITE_P(EveryNumeric, DialogWrite, ::testing::ValuesIn(kDialogCases),
                         [](const auto& info) { return std::string(info.param.name); });

// --- every ring, ring slider and switch of the user set-up window ---

struct ImmediateCase {
    const char* name;
    int ctrl, reg;
    std::uint16_t before;  // what the transmitter holds first
    const char* item;      // the item or position the user picks
    std::uint16_t written;
};

const ImmediateCase kImmediateCases[] = {
    {"MB_PARITY", PANEL_4_MB_PARITY, 74, 0, "Odd Parity", 2},
    {"MB_BAUD_RATE", PANEL_4_MB_BAUD_RATE, 75, 0, "19200", 1},
    {"OUTPUT_SAFE_MODE", PANEL_4_OUTPUT_SAFE_MODE, 59, 8, "21.5 mA", 4},
    {"MEDIUM", PANEL_4_MEDIUM, 44, 4, "Liquid Pipe", 8},
    {"RL1_TH_MINMAX", PANEL_4_RL1_TH_MINMAX, 45, 0, "Max", 1},
    {"RL1_TH_SAFETY", PANEL_4_RL1_TH_SAFETY, 46, 1, "No", 0},
    {"RL1_TH_ENABLE", PANEL_4_RL1_TH_ENABLE, 47, 0, "Enable", 1},
    {"RL2_TH_MINMAX", PANEL_4_RL2_TH_MINMAX, 48, 1, "Min", 0},
    {"RL2_TH_SAFETY", PANEL_4_RL2_TH_SAFETY, 49, 0, "Yes", 1},
    {"RL2_TH_ENABLE", PANEL_4_RL2_TH_ENABLE, 50, 1, "Disable", 0},
    {"RL1_PUMP_FILLEMPTY", PANEL_4_RL1_PUMP_FILLEMPTY, 51, 0, "Emptying", 1},
    {"RL1_PUMP_ENABLE", PANEL_4_RL1_PUMP_ENABLE, 52, 1, "Disable", 0},
    {"RL2_DIAG_ENABLE", PANEL_4_RL2_DIAG_ENABLE, 53, 0, "Enable", 1},
};

void PrintTo(const ImmediateCase& c, std::ostream* os) { *os << c.name; }

struct ImmediateWrite : Writes, ::testing::WithParamInterface<ImmediateCase> {};

TEST_P(ImmediateWrite, PickingAnItemWritesItsValueOnceWithoutADialog)
{
    const ImmediateCase& c = GetParam();
    r.regs[c.reg - 1] = c.before;
    const int user = openUser();
    r.tick();
    ASSERT_EQ(number(user, c.ctrl), c.before);

    long long itemValue = -1;
    for (const ui::RingItem& it : panels.control(user, c.ctrl)->items)
        if (it.label == c.item)
            itemValue = it.value;
    ASSERT_NE(itemValue, -1) << "no item \"" << c.item << "\"";

    const std::size_t framesBefore = r.com.frames.size();
    const int pollsBefore = app.link.pollCount;
    ASSERT_EQ(panels.UserSetValue(user, c.ctrl, Value(itemValue)), 0);
    ASSERT_EQ(r.com.frames.size(), framesBefore + 1) << "one write for one change, not one per event";
    EXPECT_EQ(lastFrame(), hex(expectedWrite(1, c.reg, c.written)));
    EXPECT_EQ(app.link.pollCount, pollsBefore + 1);
    EXPECT_EQ(app.link.ucFuncCod, 3);
    EXPECT_TRUE(shownDialogs().empty());
    EXPECT_EQ(r.mainMessage(), "");
    EXPECT_EQ(r.regs[c.reg - 1], c.written);

    r.tick();
    EXPECT_EQ(lastFrame(), hex(expectedPoll(1)));
    EXPECT_EQ(number(user, c.ctrl), c.written);
}

INSTANTIATE_TEST_SUITE_P(EveryRingAndSwitch, ImmediateWrite, ::testing::ValuesIn(kImmediateCases),
                         [](const auto& info) { return std::string(info.param.name); });

// --- the eight configuration-index boxes ---

struct IndexCase {
    const char* name;
    int ctrl, reg;
    char typed;
};

// Each box types a different letter, so a write that lands in a neighbour's register shows.
const IndexCase kIndexCases[] = {
    {"CONFIG_INDEX_1", PANEL_3_CONFIG_INDEX_1, 29, 'A'}, {"CONFIG_INDEX_2", PANEL_3_CONFIG_INDEX_2, 30, 'B'},
    {"CONFIG_INDEX_3", PANEL_3_CONFIG_INDEX_3, 31, 'C'}, {"CONFIG_INDEX_4", PANEL_3_CONFIG_INDEX_4, 32, 'D'},
    {"CONFIG_INDEX_5", PANEL_3_CONFIG_INDEX_5, 33, 'E'}, {"CONFIG_INDEX_6", PANEL_3_CONFIG_INDEX_6, 34, 'F'},
    {"CONFIG_INDEX_7", PANEL_3_CONFIG_INDEX_7, 35, 'G'}, {"CONFIG_INDEX_8", PANEL_3_CONFIG_INDEX_8, 36, 'H'},
};

void PrintTo(const IndexCase& c, std::ostream* os) { *os << c.name; }

struct IndexWrite : Writes, ::testing::WithParamInterface<IndexCase> {};

TEST_P(IndexWrite, TypingOneLetterWritesItsCodeToTheBoxRegisterAndReadsBackAsThatLetter)
{
    const IndexCase& c = GetParam();
    r.regs[c.reg - 1] = 'x';
    const int adv = openAdvanced();
    r.tick();
    ASSERT_EQ(text(adv, c.ctrl), "x");

    panels.PostEvent(adv, c.ctrl, EVENT_LEFT_DOUBLE_CLICK);
    ASSERT_EQ(shownDialogs(), std::vector<int>{dialog()});
    ASSERT_EQ(panels.panel(dialog())->id, WR_ASCII);
    EXPECT_EQ(text(dialog(), WR_ASCII_STRING), "x") << "the dialog starts with the box's character";
    EXPECT_NE(label(dialog(), WR_ASCII_STRING).find("register " + std::to_string(c.reg) + ")"), std::string::npos);

    const std::size_t framesBefore = r.com.frames.size();
    enterText(std::string(1, c.typed));
    ASSERT_EQ(r.com.frames.size(), framesBefore + 1);
    EXPECT_EQ(lastFrame(), hex(expectedWrite(1, c.reg, static_cast<std::uint16_t>(c.typed))));
    EXPECT_EQ(r.regs[c.reg - 1], static_cast<std::uint16_t>(c.typed));

    r.tick();
    EXPECT_EQ(text(adv, c.ctrl), std::string(1, c.typed));
}

INSTANTIATE_TEST_SUITE_P(EveryBox, IndexWrite, ::testing::ValuesIn(kIndexCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

// --- the frame itself ---

TEST_F(Writes, FiveHundredToTheFullDistanceIsTheWorkedExampleFrame)
{
    panels.PostEvent(app.st.panelMain, PANEL_DISTANCE_20MA, EVENT_LEFT_DOUBLE_CLICK);
    enterValue(500);
    EXPECT_EQ(lastFrame(), "01 06 00 0B 01 F4 F8 1F");
}

TEST_F(Writes, TheDialogTakesTheWholeRegisterRangeAndNothingOutsideIt)
{
    panels.PostEvent(app.st.panelMain, PANEL_DISTANCE_4MA, EVENT_LEFT_DOUBLE_CLICK);
    enterValue(0);
    EXPECT_EQ(lastFrame(), hex(expectedWrite(1, 11, 0x0000)));
    enterValue(65535);
    EXPECT_EQ(lastFrame(), hex(expectedWrite(1, 11, 0xFFFF)));

    const std::size_t frames = r.com.frames.size();
    const int polls = app.link.pollCount;
    for (long long bad : {-1LL, 65536LL, 70000LL}) {
        SCOPED_TRACE(bad);
        EXPECT_LT(panels.UserSetValue(dialog(), WRITE_VAL_WRITE_VALUE, Value(bad)), 0);
        // A view that let the number through anyway: "Enter" must still refuse it.
        panels.SetCtrlVal(dialog(), WRITE_VAL_WRITE_VALUE, Value(bad));
        const std::size_t popups = r.popups.popups.size();
        panels.PostEvent(dialog(), WRITE_VAL_CONF_VAL, EVENT_COMMIT);
        EXPECT_EQ(r.popups.popups.size(), popups + 1) << "the user is told why nothing happened";
    }
    EXPECT_EQ(r.com.frames.size(), frames);
    EXPECT_EQ(app.link.pollCount, polls);
}

TEST_F(Writes, EnterTwiceWritesTwiceAndCountsTwoRequests)
{
    panels.PostEvent(app.st.panelMain, PANEL_BLIND_DISTANCE, EVENT_LEFT_DOUBLE_CLICK);
    ASSERT_EQ(panels.UserSetValue(dialog(), WRITE_VAL_WRITE_VALUE, Value(350LL)), 0);
    panels.PostEvent(dialog(), WRITE_VAL_CONF_VAL, EVENT_COMMIT);
    panels.PostEvent(dialog(), WRITE_VAL_CONF_VAL, EVENT_COMMIT);
    ASSERT_EQ(r.com.frames.size(), 2u);
    EXPECT_EQ(hex(r.com.frames[0]), hex(expectedWrite(1, 15, 350)));
    EXPECT_EQ(hex(r.com.frames[1]), hex(expectedWrite(1, 15, 350)));
    EXPECT_EQ(app.link.pollCount, 2);
}

TEST_F(Writes, QuitClosesTheDialogWithoutWriting)
{
    panels.PostEvent(app.st.panelMain, PANEL_UID, EVENT_LEFT_DOUBLE_CLICK);
    ASSERT_EQ(panels.UserSetValue(dialog(), WRITE_VAL_WRITE_VALUE, Value(9LL)), 0);
    panels.PostEvent(dialog(), WRITE_VAL_EXIT, EVENT_COMMIT);
    EXPECT_TRUE(shownDialogs().empty());
    EXPECT_TRUE(r.com.frames.empty());

    const int adv = openAdvanced();
    panels.PostEvent(adv, PANEL_3_CONFIG_INDEX_2, EVENT_LEFT_DOUBLE_CLICK);
    panels.PostEvent(dialog(), WR_ASCII_EXIT, EVENT_COMMIT);
    EXPECT_TRUE(shownDialogs().empty());
    EXPECT_TRUE(r.com.frames.empty());
}

// --- what must not write ---

TEST_F(Writes, ADoubleClickOnARingOrSwitchOpensNoDialogAndSendsNothing)
{
    const int user = openUser();
    for (const ImmediateCase& c : kImmediateCases) {
        SCOPED_TRACE(c.name);
        panels.PostEvent(user, c.ctrl, EVENT_LEFT_DOUBLE_CLICK);
        EXPECT_TRUE(shownDialogs().empty());
    }
    EXPECT_TRUE(r.com.frames.empty());
}

TEST_F(Writes, AValueChangeOrCommitOnANumericWritesNothing)
{
    for (const DialogCase& c : kDialogCases) {
        SCOPED_TRACE(c.name);
        const int panel = open(c.panelId);
        panels.PostEvent(panel, c.ctrl, EVENT_VAL_CHANGED);
        panels.PostEvent(panel, c.ctrl, EVENT_COMMIT);
        EXPECT_TRUE(shownDialogs().empty());
    }
    EXPECT_TRUE(r.com.frames.empty());
    EXPECT_EQ(app.link.pollCount, 0);
}

TEST_F(Writes, AlphaAndV0AreRefusedWithAWarningAndKeepTheChosenRegister)
{
    const int adv = openAdvanced();
    panels.PostEvent(adv, PANEL_3_MINDELTA, EVENT_LEFT_DOUBLE_CLICK);
    panels.PostEvent(dialog(), WRITE_VAL_EXIT, EVENT_COMMIT);
    ASSERT_EQ(app.st.dialogTarget.reg, 28);
    const std::vector<int> handlesBefore = panels.handles();

    for (int ctrl : {PANEL_3_ALPHA, PANEL_3_V0}) {
        SCOPED_TRACE(ctrl);
        const std::size_t popups = r.popups.popups.size();
        panels.PostEvent(adv, ctrl, EVENT_LEFT_DOUBLE_CLICK);
        ASSERT_EQ(r.popups.popups.size(), popups + 1);
        EXPECT_EQ(r.popups.popups.back().title, "Warning");
        EXPECT_EQ(r.popups.popups.back().text, "It's not allowed to change this value !");
        EXPECT_TRUE(shownDialogs().empty()) << "no dialog is left behind for a refused value";
        EXPECT_EQ(app.st.dialogTarget.reg, 28);
    }
    EXPECT_EQ(panels.handles(), handlesBefore);
    EXPECT_TRUE(r.com.frames.empty());
}

TEST_F(Writes, TheConfigIndexBoxesTakeNoTypingAndThePollShowsTheDeviceText)
{
    r.regs[29 - 1] = 'Q';
    const int adv = openAdvanced();
    // Read-only: typing there would look set without ever being written.
    EXPECT_LT(panels.UserSetValue(adv, PANEL_3_CONFIG_INDEX_1, Value(std::string("Z"))), 0);
    EXPECT_TRUE(r.com.frames.empty());
    r.tick();
    EXPECT_EQ(r.com.frames.size(), 1u);
    EXPECT_EQ(text(adv, PANEL_3_CONFIG_INDEX_1), "Q");
}

TEST_F(Writes, AReadbackThatChangesEveryRingAndSwitchSendsNoWrite)
{
    for (const ImmediateCase& c : kImmediateCases)
        r.regs[c.reg - 1] = c.before;
    const int user = openUser();
    r.tick();
    for (const ImmediateCase& c : kImmediateCases)
        r.regs[c.reg - 1] = c.written;
    r.tick();
    ASSERT_EQ(r.com.frames.size(), 2u);
    for (const Bytes& f : r.com.frames)
        EXPECT_EQ(hex(f), hex(expectedPoll(1)));
    for (const ImmediateCase& c : kImmediateCases)
        EXPECT_EQ(number(user, c.ctrl), c.written) << c.name;
}

// --- the configuration-index dialog's input ---

TEST_F(Writes, ConfigIndexTakesOnePrintableCharacterOrNothing)
{
    struct Case {
        const char* what;
        std::string typed;
        std::uint16_t written;
    };
    const Case cases[] = {
        {"\"A\"", "A", 0x41},
        {"space", " ", 0x20},
        {"tilde", "~", 0x7E},
        {"nothing", "", 0},
    };
    const int adv = openAdvanced();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        panels.PostEvent(adv, PANEL_3_CONFIG_INDEX_4, EVENT_LEFT_DOUBLE_CLICK);
        enterText(c.typed);
        EXPECT_EQ(lastFrame(), hex(expectedWrite(1, 32, c.written)));
        r.tick();
        EXPECT_EQ(text(adv, PANEL_3_CONFIG_INDEX_4), c.typed) << "the box reads back what was written";
    }
    EXPECT_TRUE(r.popups.popups.empty());
}

TEST_F(Writes, ConfigIndexRefusesAnythingElseWithAMessageAndSendsNothing)
{
    const std::string cases[] = {"\t", "\x7F", "\xE9", "\xC3\xA9" /* é as typed in UTF-8 */, "AB", "\x01"};
    const int adv = openAdvanced();
    panels.PostEvent(adv, PANEL_3_CONFIG_INDEX_1, EVENT_LEFT_DOUBLE_CLICK);
    for (const std::string& typed : cases) {
        SCOPED_TRACE(hex(Bytes(typed.begin(), typed.end())));
        // The box holds one character; longer text can only come from a view that does not
        // enforce that, and must be refused all the same.
        if (panels.UserSetValue(dialog(), WR_ASCII_STRING, Value(typed)) < 0)
            panels.SetCtrlVal(dialog(), WR_ASCII_STRING, Value(typed));
        const std::size_t popups = r.popups.popups.size();
        panels.PostEvent(dialog(), WR_ASCII_CONF_VAL, EVENT_COMMIT);
        EXPECT_EQ(r.popups.popups.size(), popups + 1);
    }
    EXPECT_TRUE(r.com.frames.empty());
    EXPECT_EQ(app.link.pollCount, 0);
}

// --- one dialog at a time ---

TEST_F(Writes, ASecondDoubleClickRetargetsTheOpenDialogInsteadOfStackingAnother)
{
    r.regs[25 - 1] = 7;
    r.regs[15 - 1] = 420;
    r.tick();
    panels.PostEvent(app.st.panelMain, PANEL_UID, EVENT_LEFT_DOUBLE_CLICK);
    const int first = dialog();
    const std::string uidLabel = label(first, WRITE_VAL_WRITE_VALUE);
    panels.PostEvent(app.st.panelMain, PANEL_BLIND_DISTANCE, EVENT_LEFT_DOUBLE_CLICK);
    EXPECT_EQ(dialog(), first);
    EXPECT_EQ(shownDialogs(), std::vector<int>{first});
    EXPECT_EQ(panels.activePanel(), first) << "brought to the front";
    EXPECT_NE(label(first, WRITE_VAL_WRITE_VALUE), uidLabel);
    EXPECT_EQ(number(first, WRITE_VAL_WRITE_VALUE), 420);

    enterValue(400);
    EXPECT_EQ(lastFrame(), hex(expectedWrite(1, 15, 400)));
    EXPECT_EQ(r.regs[25 - 1], 7) << "the first target is not written";
}

TEST_F(Writes, OpeningTheOtherKindOfDialogReplacesTheOneShown)
{
    const int adv = openAdvanced();
    panels.PostEvent(adv, PANEL_3_DAC_4MA, EVENT_LEFT_DOUBLE_CLICK);
    panels.PostEvent(adv, PANEL_3_CONFIG_INDEX_3, EVENT_LEFT_DOUBLE_CLICK);
    ASSERT_EQ(shownDialogs(), std::vector<int>{dialog()});
    EXPECT_EQ(panels.panel(dialog())->id, WR_ASCII);
    enterText("K");
    EXPECT_EQ(lastFrame(), hex(expectedWrite(1, 31, 'K')));

    panels.PostEvent(adv, PANEL_3_DAC_4MA, EVENT_LEFT_DOUBLE_CLICK);
    ASSERT_EQ(shownDialogs(), std::vector<int>{dialog()});
    EXPECT_EQ(panels.panel(dialog())->id, WRITE_VAL);
    enterValue(1234);
    EXPECT_EQ(lastFrame(), hex(expectedWrite(1, 13, 1234)));
}

// --- the polls around a write ---

TEST_F(Writes, TheNextPollAfterAnyWriteOutcomeIsTheFullRead)
{
    struct Case {
        const char* what;
        std::function<void(int, const Bytes&)> onWrite;
    };
    const Case cases[] = {
        {"good echo", [this](int port, const Bytes& f) { r.com.injectAfter(port, 0.1, f); }},
        {"no echo", [](int, const Bytes&) {}},
        {"exception",
         [this](int port, const Bytes& f) {
             r.com.inject(port, AppRig::withCrc({f[0], 0x86, 0x02}));
         }},
        {"garbage", [this](int port, const Bytes&) { r.com.inject(port, Bytes(8, 0x55)); }},
    };
    r.regs[12 - 1] = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto device = r.com.peer;
        r.com.peer = [&](int port, const Bytes& f) {
            if (f[1] == 6)
                c.onWrite(port, f);
            else
                device(port, f);
        };
        panels.PostEvent(app.st.panelMain, PANEL_DISTANCE_20MA, EVENT_LEFT_DOUBLE_CLICK);
        enterValue(500);
        panels.PostEvent(dialog(), WRITE_VAL_EXIT, EVENT_COMMIT);
        EXPECT_EQ(app.link.ucFuncCod, 3);
        r.tick();
        EXPECT_EQ(lastFrame(), hex(expectedPoll(1)));
        EXPECT_EQ(app.link.responseValid, 1) << "the poll after the write is read whole";
        r.com.peer = device;
    }
}

TEST_F(Writes, ANewSlaveAddressGoesIntoTheNextPollAndTheNextWrite)
{
    r.tick();
    ASSERT_EQ(panels.UserSetValue(app.st.panelMain, PANEL_SLAVE_ADDRESS, Value(17LL)), 0);
    EXPECT_EQ(r.com.frames.size(), 1u) << "changing the address sends nothing by itself";
    r.tick();
    EXPECT_EQ(lastFrame(), hex(expectedPoll(17)));
    EXPECT_EQ(app.link.responseValid, 1);
    panels.PostEvent(app.st.panelMain, PANEL_UID, EVENT_LEFT_DOUBLE_CLICK);
    enterValue(5);
    EXPECT_EQ(lastFrame(), hex(expectedWrite(17, 25, 5)));
}

TEST_F(Writes, AfterATakenUidTheUserIsAskedWhetherToFollowIt)
{
    // No: the polls stay at the old address.
    panels.PostEvent(app.st.panelMain, PANEL_UID, EVENT_LEFT_DOUBLE_CLICK);
    enterValue(9);
    ASSERT_FALSE(r.popups.popups.empty());
    EXPECT_EQ(r.popups.popups.back().title, "New slave address");
    EXPECT_NE(r.popups.popups.back().text.find("address 9"), std::string::npos);
    r.tick();
    EXPECT_EQ(lastFrame(), hex(expectedPoll(1)));
    EXPECT_EQ(app.link.slaveAddress, 1);

    // Yes: the Slave Address and every request after follow it.
    r.popups.confirmAnswer = true;
    enterValue(12);
    EXPECT_EQ(app.link.slaveAddress, 12);
    EXPECT_EQ(number(app.st.panelMain, PANEL_SLAVE_ADDRESS), 12);
    r.tick();
    EXPECT_EQ(lastFrame(), hex(expectedPoll(12)));

    // A refused write asks nothing.
    r.answering = false;
    const std::size_t asked = r.popups.popups.size();
    enterValue(30);
    EXPECT_EQ(r.popups.popups.size(), asked);
    EXPECT_EQ(app.link.slaveAddress, 12);
}

TEST_F(Writes, TheUidDialogTakesOneTo247AndSaysSo)
{
    panels.PostEvent(app.st.panelMain, PANEL_UID, EVENT_LEFT_DOUBLE_CLICK);
    EXPECT_EQ(label(dialog(), WRITE_VAL_WRITE_VALUE), "UID (register 25), 1 to 247");
    for (long long bad : {0LL, 248LL, 300LL})
        EXPECT_LT(panels.UserSetValue(dialog(), WRITE_VAL_WRITE_VALUE, Value(bad)), 0) << bad;
    // The range goes with the register: the next target takes its own.
    panels.PostEvent(app.st.panelMain, PANEL_DISTANCE_20MA, EVENT_LEFT_DOUBLE_CLICK);
    EXPECT_EQ(panels.UserSetValue(dialog(), WRITE_VAL_WRITE_VALUE, Value(300LL)), 0);
    EXPECT_TRUE(r.com.frames.empty());
}

TEST_F(Writes, ClosingAWindowClosesTheDialogsOpenedFromItUnsent)
{
    const int adv = openAdvanced();
    panels.PostEvent(adv, PANEL_3_Z_VALUE, EVENT_LEFT_DOUBLE_CLICK);
    const int valueDialog = dialog();
    ASSERT_EQ(panels.UserSetValue(valueDialog, WRITE_VAL_WRITE_VALUE, Value(150LL)), 0);
    panels.PostEvent(adv, PANEL_3_EXIT_3, EVENT_COMMIT);
    EXPECT_EQ(panels.panel(valueDialog), nullptr);
    EXPECT_TRUE(shownDialogs().empty());

    const int adv2 = openAdvanced();
    panels.PostEvent(adv2, PANEL_3_CONFIG_INDEX_4, EVENT_LEFT_DOUBLE_CLICK);
    const int ascii = dialog();
    ASSERT_EQ(panels.UserSetValue(ascii, WR_ASCII_STRING, Value(std::string("K"))), 0);
    panels.PostEvent(adv2, PANEL_3_EXIT_3, EVENT_COMMIT);
    EXPECT_EQ(panels.panel(ascii), nullptr);
    // Even an Enter that was already on its way writes nothing once the window is gone.
    panels.PostEvent(ascii, WR_ASCII_CONF_VAL, EVENT_COMMIT);
    EXPECT_TRUE(r.com.frames.empty());

    // A dialog opened from the main window stays when a set-up window closes.
    const int user = openUser();
    panels.PostEvent(app.st.panelMain, PANEL_DISTANCE_20MA, EVENT_LEFT_DOUBLE_CLICK);
    panels.PostEvent(user, PANEL_4_USCITA, EVENT_COMMIT);
    EXPECT_EQ(shownDialogs(), std::vector<int>{dialog()});
}

TEST_F(Writes, TheConfigIndexDialogRefusesAnythingButPrintableAscii)
{
    const int adv = openAdvanced();
    panels.PostEvent(adv, PANEL_3_CONFIG_INDEX_2, EVENT_LEFT_DOUBLE_CLICK);
    EXPECT_EQ(label(dialog(), WR_ASCII_STRING), "Config index 2 of 8 (register 30)");
    for (const char* bad : {"\xC3\xA9", "\xE2\x82\xAC", "\xC3\x9F", "\xCE\xA9", "\t"}) {
        const std::size_t popups = r.popups.popups.size();
        enterText(bad);
        EXPECT_EQ(r.popups.popups.size(), popups + 1) << "refused with a message";
    }
    EXPECT_TRUE(r.com.frames.empty()) << "nothing, not even the old character, was sent";
}

TEST_F(Writes, ASlaveAddressOutsideOneTo247IsRefusedAndTheOldOneStays)
{
    ASSERT_EQ(panels.UserSetValue(app.st.panelMain, PANEL_SLAVE_ADDRESS, Value(247LL)), 0);
    ASSERT_EQ(app.link.slaveAddress, 247);
    for (long long bad : {0LL, 248LL, 256LL, 257LL, -1LL}) {
        SCOPED_TRACE(bad);
        EXPECT_LT(panels.UserSetValue(app.st.panelMain, PANEL_SLAVE_ADDRESS, Value(bad)), 0);
        // A view that let it through: the callback refuses it too and shows the address in use.
        panels.SetCtrlVal(app.st.panelMain, PANEL_SLAVE_ADDRESS, Value(bad));
        panels.PostEvent(app.st.panelMain, PANEL_SLAVE_ADDRESS, EVENT_VAL_CHANGED);
        EXPECT_EQ(app.link.slaveAddress, 247);
        EXPECT_EQ(number(app.st.panelMain, PANEL_SLAVE_ADDRESS), 247);
    }
    EXPECT_TRUE(r.com.frames.empty());
    r.tick();
    EXPECT_EQ(lastFrame(), hex(expectedPoll(247)));
}

// --- the echo and what the main window says about it ---

TEST_F(Writes, TheEchoDecidesWhatTheMainWindowSays)
{
    struct Case {
        const char* what;
        std::function<void(int, const Bytes&)> onWrite;
        const char* message;
        int led;
    };
    const Case cases[] = {
        {"good echo", [this](int port, const Bytes& f) { r.com.injectAfter(port, 1.5, f); }, "", 0},
        {"echo of another value",
         [this](int port, const Bytes& f) {
             r.com.inject(port, AppRig::withCrc({f[0], 6, f[2], f[3], f[4], static_cast<std::uint8_t>(f[5] + 1)}));
         },
         "-BYTESNUM-", 1},
        {"echo of another register",
         [this](int port, const Bytes& f) {
             r.com.inject(port, AppRig::withCrc({f[0], 6, f[2], static_cast<std::uint8_t>(f[3] + 1), f[4], f[5]}));
         },
         "-BYTESNUM-", 1},
        {"echo with a broken CRC",
         [this](int port, const Bytes& f) {
             Bytes e = f;
             e[7] ^= 0xFF;
             r.com.inject(port, e);
         },
         "-CRC-", 1},
        {"exception 2",
         [this](int port, const Bytes& f) {
             r.com.inject(port, AppRig::withCrc({f[0], 0x86, 0x02}));
         },
         "-EXCEPTION 2-", 1},
        {"silence", [](int, const Bytes&) {}, "-NO RESPONSE-", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        r.com.peer = [&](int port, const Bytes& f) { c.onWrite(port, f); };
        panels.SetCtrlVal(app.st.panelMain, PANEL_ERROR_COM_MSG, "-OLD-");
        panels.SetCtrlVal(app.st.panelMain, PANEL_ERROR_COMM_LED, c.led ? 0 : 1);
        panels.PostEvent(app.st.panelMain, PANEL_DISTANCE_20MA, EVENT_LEFT_DOUBLE_CLICK);
        enterValue(500);
        EXPECT_EQ(r.mainMessage(), c.message);
        EXPECT_EQ(r.mainLed(), c.led);
        EXPECT_EQ(app.link.responseValid, c.led ? 0 : 1);
        EXPECT_EQ(app.link.ucFuncCod, 3);
    }
}

TEST_F(Writes, AWriteEndsWhenItsEchoIsInNotAfterAFixedTwoSeconds)
{
    panels.PostEvent(app.st.panelMain, PANEL_DISTANCE_4MA, EVENT_LEFT_DOUBLE_CLICK);
    const double before = r.clock.now();
    enterValue(42);
    EXPECT_LT(r.clock.now() - before, r.replyDelay + 2 * QuietTime(9600));
    EXPECT_GT(r.clock.now() - before, r.replyDelay);
    EXPECT_EQ(r.mainMessage(), "");

    r.answering = false;  // without an echo it waits its whole 2 s
    const double silent = r.clock.now();
    enterValue(43);
    EXPECT_DOUBLE_EQ(r.clock.now() - silent, 2.0);
    EXPECT_EQ(r.mainMessage(), "-NO RESPONSE-");
}

TEST_F(Writes, ATimerTickDueDuringAWriteRunsAfterItNeverInsideIt)
{
    r.clock.advanceTo(4.5);  // the polling timer falls due at 5 s, inside the write's wait
    r.replyDelay = 1.8;      // a slow echo
    panels.PostEvent(app.st.panelMain, PANEL_DISTANCE_4MA, EVENT_LEFT_DOUBLE_CLICK);
    std::size_t framesDuringWait = 99;
    r.clock.schedule(5.5, [&] {
        panels.FireDueTimers();  // what the event loop would do while the window repaints
        framesDuringWait = r.com.frames.size();
    });
    enterValue(42);
    EXPECT_EQ(framesDuringWait, 1u) << "no poll inside the write";
    ASSERT_EQ(r.com.frames.size(), 1u);
    panels.FireDueTimers();
    ASSERT_EQ(r.com.frames.size(), 2u);
    EXPECT_EQ(hex(r.com.frames[0]), hex(expectedWrite(1, 11, 42)));
    EXPECT_EQ(hex(r.com.frames[1]), hex(expectedPoll(1)));
}
