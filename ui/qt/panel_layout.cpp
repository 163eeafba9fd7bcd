#include "qt/panel_layout.h"

#include <QString>

#include <algorithm>
#include <set>

namespace vek::ui::qt {

namespace {

struct RowArrangement {
    const char* ctrl;
    const char* label = nullptr;
    const char* unit = nullptr;
};

struct FrameArrangement {
    const char* group = nullptr;     // members: controls carrying this group hint
    const char* titleMsg = nullptr;  // a text message as title (else the one reading `group`)
    int column = 0;
    bool wide = false;
    bool horizontal = false;
    int split = 1;
    std::vector<RowArrangement> rows = {};  // placed first, in this order
};

struct PanelArrangement {
    const char* panel;
    std::vector<const char*> header;
    std::vector<const char*> hidden;
    std::vector<const char*> buttons;  // preferred order; others follow in resource order
    std::vector<FrameArrangement> sections;
};

// The arrangement of our nine windows. Orders follow how a technician reads them (distance
// before level, port before baud rate), not the resource's id order.
const std::vector<PanelArrangement>& arrangements()
{
    static const std::vector<PanelArrangement> all = {
        {"PANEL",
         {"TEXTMSG_7"},
         {},
         {"CONFIG_SER_PORT", "SET_UP_UT", "SET_UP", "LOGGER", "INFO"},
         {
             {.group = "Monitor",
              .rows = {{"DISTANCE_MM"}, {"LEVEL_MM"}, {"LEVEL_PERC"}, {"TEMPERATURE"}, {"OUTPUT_MA"},
                       {"FREQUENCY"}, {"MEASURE_STATUS"}, {"SENSOR"}}},
             {.group = "Relays Status", .column = 0, .rows = {{"RL1_LED"}, {"RL2_LED"}}},
             {.group = "Settings", .column = 1},
             {.group = "Statistics", .column = 1},
             {.group = "Error Messages", .wide = true},
         }},
        {"PANEL_2",
         {},
         // The saved copy of the port number; the COM PORT ring already shows the choice.
         {"Porta"},
         {"APPLY", "SAVE_SETTINGS"},
         {{.titleMsg = "TEXTMSG",
           .rows = {{"COMPORT"}, {"BAUD_RATE"}, {"PARITY"}, {"DATA_BITS"}, {"BIT_STOP"}}}}},
        {"PANEL_3",
         {},
         {},
         {},
         {{.titleMsg = "TEXTMSG",
           .split = 2,
           .rows = {{"MINDELTA"}, {"CYCLES_NUM"}, {"EMISSION_TIME"}, {"EPOT_20C"}, {"ALPHA"}, {"V0"},
                    {"Z_VALUE"}, {"DAC_20MA"}, {"DAC_4MA"}, {"FREQUENCY"}, {"TEMPERATURE"}}},
          {.titleMsg = "TEXTMSG_2",
           .wide = true,
           .horizontal = true,
           .rows = {{"CONFIG_INDEX_1"}, {"CONFIG_INDEX_2"}, {"CONFIG_INDEX_3"}, {"CONFIG_INDEX_4"},
                    {"CONFIG_INDEX_5"}, {"CONFIG_INDEX_6"}, {"CONFIG_INDEX_7"}, {"CONFIG_INDEX_8"}}}}},
        {"PANEL_4",
         {"TEXTMSG"},
         {},
         {},
         {
             // Two columns of about equal height keep the window on a small screen at 200 %.
             {.titleMsg = "TEXTMSG_12", .column = 0, .rows = {{"MB_BAUD_RATE"}, {"MB_PARITY"}}},
             {.titleMsg = "TEXTMSG_2",
              .column = 0,
              .rows = {{"RL1_TH_ENABLE"}, {"RL1_TH_MINMAX"}, {"RL1_TH_SAFETY"},
                       {"RL1_TH_VAL", "TEXTMSG_7", "RL1_TH_UNIT"}, {"RL1_TH_DELAY", nullptr, "SYMB_SEC"}}},
             {.titleMsg = "TEXTMSG_4",
              .column = 0,
              .rows = {{"RL1_PUMP_ENABLE"}, {"RL1_PUMP_FILLEMPTY"},
                       {"RL1_PUMP_LOWER", "TEXTMSG_10", "RL1_PUMP_LOWER_UNIT"},
                       {"RL1_PUMP_UPPER", "TEXTMSG_9", "RL1_PUMP_UPPER_UNIT"},
                       {"RL1_PUMP_DELAY", nullptr, "SYMB_SEC_2"}}},
             {.titleMsg = "TEXTMSG_3",
              .column = 1,
              .rows = {{"RL2_TH_ENABLE"}, {"RL2_TH_MINMAX"}, {"RL2_TH_SAFETY"}, {"RL2_DIAG_ENABLE"},
                       {"RL2_TH_VAL", "TEXTMSG_11", "RL2_TH_UNIT"}, {"RL2_TH_DELAY", nullptr, "SYMB_SEC_3"}}},
             {.titleMsg = "TEXTMSG_5",
              .column = 1,
              .rows = {{"OUTPUT_SAFE_MODE"}, {"MEDIUM"}, {"FILTER_COEFF"}, {"FROZENGAIN"}, {"MAXGAIN_TH"},
                       {"WIDTH"}}},
         }},
        {"DATA_LOG",
         {},
         {},
         {},
         {{.rows = {{"TEXTMSG_2"}, {"FILE_NAME"}, {"WRITE_TIMER"}, {"FILE_SIZE"}, {"DATALOG_MSG"}}}}},
        {"INFO",
         {"TEXTMSG"},
         {},
         {},
         {{.rows = {{"TEXTMSG_2"}, {"TEXTMSG_3"}, {"TEXTMSG_4"}, {"TEXTMSG_5"}, {"TEXTMSG_6"}, {"TEXTMSG_7"},
                    {"TEXTMSG_8"}}}}},
        {"PASSWORD", {}, {}, {}, {{.rows = {{"TEXTMSG"}, {"STRING"}}}}},
        {"WR_ASCII", {}, {}, {}, {{.rows = {{"STRING"}}}}},
        {"WRITE_VAL", {}, {}, {}, {{.rows = {{"TEXTMSG"}, {"WRITE_VALUE"}}}}},
    };
    return all;
}

const PanelArrangement* arrangementFor(const std::string& constant)
{
    for (const auto& s : arrangements())
        if (constant == s.panel)
            return &s;
    return nullptr;
}

int idOf(const Panel& p, const char* constant)
{
    if (!constant)
        return 0;
    for (const auto& c : p.controls)
        if (c.constant == constant)
            return c.id;
    return 0;
}

bool isUnlabelledLamp(const Panel& p, int id)
{
    const Control* c = p.find(id);
    return c && c->kind == Kind::Led && c->label.empty();
}

// A lamp without a label says nothing on a row of its own; it belongs beside the message
// that follows it (the link error lamp and its text, the warning lamp and its text).
void pairLamps(const Panel& p, std::vector<RowPlan>& rows)
{
    for (std::size_t i = 0; i + 1 < rows.size(); ++i) {
        RowPlan& r = rows[i];
        RowPlan& next = rows[i + 1];
        if (r.label == 0 && r.unit == 0 && isUnlabelledLamp(p, r.ctrl) && next.lamp == 0 &&
            p.find(next.ctrl)->kind != Kind::Led) {
            next.lamp = r.ctrl;
            rows.erase(rows.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }
}

}  // namespace

int FindQuitControl(const Panel& panel)
{
    for (const char* name : {"EXIT", "EXIT_3", "USCITA"})
        for (const auto& c : panel.controls)
            if (c.constant == name && c.kind == Kind::Button)
                return c.id;
    return 0;
}

PanelPlan PlanPanel(const Panel& p)
{
    PanelPlan plan;
    std::set<int> placed;
    auto take = [&](int id) {
        if (id == 0 || placed.count(id))
            return false;
        placed.insert(id);
        return true;
    };

    const PanelArrangement* table = arrangementFor(p.constant);
    plan.quitCtrl = FindQuitControl(p);

    int enterButtons = 0;
    for (const auto& c : p.controls) {
        if (c.kind == Kind::Button && QString::fromStdString(c.label).trimmed().compare("Enter", Qt::CaseInsensitive) == 0) {
            plan.enterCtrl = c.id;
            ++enterButtons;
        }
    }
    if (enterButtons != 1)
        plan.enterCtrl = 0;  // no single obvious default: Enter then presses nothing

    for (const auto& c : p.controls)
        if (c.kind == Kind::Decoration || c.kind == Kind::Timer)
            if (take(c.id))
                plan.hidden.push_back(c.id);
    if (table)
        for (const char* h : table->hidden)
            if (int id = idOf(p, h); take(id))
                plan.hidden.push_back(id);

    for (const auto& c : p.controls)
        if (c.kind == Kind::Picture && take(c.id))
            plan.header.push_back(c.id);
    if (table)
        for (const char* h : table->header)
            if (int id = idOf(p, h); take(id))
                plan.header.push_back(id);

    // Frames from the table, then frames for group hints the table does not know.
    std::vector<std::pair<FrameArrangement, std::string>> sections;  // arrangement, group
    if (table)
        for (const auto& s : table->sections)
            sections.emplace_back(s, s.group ? s.group : "");
    for (const auto& c : p.controls) {
        if (c.group.empty())
            continue;
        const bool known = std::any_of(sections.begin(), sections.end(), [&](const auto& s) { return s.second == c.group; });
        if (!known)
            sections.emplace_back(FrameArrangement{}, c.group);
    }

    for (const auto& [s, group] : sections) {
        SectionPlan sp;
        sp.column = s.column;
        sp.wide = s.wide;
        sp.horizontal = s.horizontal;
        sp.split = s.split;
        sp.title = group;
        int title = idOf(p, s.titleMsg);
        if (!title && !group.empty())
            for (const auto& c : p.controls)
                if (c.kind == Kind::TextMsg && c.label == group && !placed.count(c.id)) {
                    title = c.id;
                    break;
                }
        if (take(title))
            sp.titleCtrl = title;
        auto addRow = [&](int ctrl, int label, int unit) {
            const Control* c = p.find(ctrl);
            if (!c || !take(ctrl))
                return;
            if (c->kind == Kind::Tank && !sp.horizontal) {
                sp.side.push_back(ctrl);
                return;
            }
            RowPlan r;
            r.ctrl = ctrl;
            if (take(label))
                r.label = label;
            if (take(unit))
                r.unit = unit;
            sp.rows.push_back(r);
        };
        for (const auto& r : s.rows)
            addRow(idOf(p, r.ctrl), idOf(p, r.label), idOf(p, r.unit));
        if (!group.empty())
            for (const auto& c : p.controls)
                if (c.group == group)
                    addRow(c.id, 0, 0);
        pairLamps(p, sp.rows);
        plan.sections.push_back(std::move(sp));
    }

    if (table)
        for (const char* b : table->buttons)
            if (int id = idOf(p, b); id && id != plan.quitCtrl && p.find(id)->kind == Kind::Button && take(id))
                plan.buttons.push_back(id);
    for (const auto& c : p.controls)
        if (c.kind == Kind::Button && c.id != plan.quitCtrl && take(c.id))
            plan.buttons.push_back(c.id);
    if (take(plan.quitCtrl))
        plan.buttons.push_back(plan.quitCtrl);

    // Whatever is left (a control the table does not know yet) goes to the last frame that
    // lays out rows, or to a frame of its own.
    std::vector<RowPlan> leftovers;
    for (const auto& c : p.controls)
        if (take(c.id))
            leftovers.push_back({c.id, 0, 0, 0});
    if (!leftovers.empty()) {
        auto it = std::find_if(plan.sections.rbegin(), plan.sections.rend(), [](const SectionPlan& s) { return !s.horizontal; });
        if (it == plan.sections.rend()) {
            plan.sections.emplace_back();
            it = plan.sections.rbegin();
        }
        it->rows.insert(it->rows.end(), leftovers.begin(), leftovers.end());
        pairLamps(p, it->rows);
    }

    for (const auto& s : plan.sections)
        if (!s.wide)
            plan.columns = std::max(plan.columns, s.column + 1);
    return plan;
}

}  // namespace vek::ui::qt
