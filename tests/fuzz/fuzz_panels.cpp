// Fuzz target: the "Panel_def.uir" loader. The first input byte picks the panel id asked
// for (0 to 10: the nine panels and two that do not exist); the rest is the resource text.
// It goes through ParsePanelResource and, written to a file, through LoadPanel with every
// callback name the program registers. Besides the sanitizers it checks that a panel that
// parses is well formed (unique positive ids, named controls, values of each control's
// own type, sane timers, layout hints that name its own controls, each once, in places
// their kind fits), that the window's layout plan places every control exactly once, that
// LoadPanel agrees with the parser, and that loading, showing, ticking and discarding
// leaves nothing behind.
#include <fstream>
#include <map>
#include <set>
#include <string>

#include "fuzz_common.h"
#include "qt/panel_layout.h"
#include "rig.h"

using namespace vek;
using vek::fuzz::check;
using vek::fuzz::checkTyped;
using vek::fuzz::same;

namespace {

struct Fixture {
    platform::VirtualClock clock;
    std::vector<test::CallRecord> calls;
    ui::PanelModel panels{clock, test::recordingRegistry(&calls)};
    fuzz::ScratchDir dir{"panels"};
    std::string file = dir.file("Panel_def.uir");
};

Fixture& fx()
{
    static Fixture f;
    return f;
}

void checkWellFormed(const ui::Panel& p, int panelId)
{
    check(p.id == panelId, "parsed another panel than asked for");
    check(!p.constant.empty(), "panel without a constant");
    std::set<int> ids;
    for (const ui::Control& c : p.controls) {
        check(c.id > 0, "control id not positive:", c.constant);
        check(ids.insert(c.id).second, "control id twice:", std::to_string(c.id));
        check(!c.constant.empty(), "control without a constant");
        checkTyped(c);
        if (c.kind == ui::Kind::Timer)
            check(c.interval > 0.0 && c.interval < 1e6, "timer interval out of range:", c.constant);
        check(c.maxLength >= 0, "negative text length limit:", c.constant);
    }
}

void checkHints(const ui::Panel& p)
{
    using ui::Kind;
    const ui::LayoutHints& h = p.layout;
    std::set<int> placed;
    auto kindOf = [&](int id) {
        const ui::Control* c = p.find(id);
        check(c != nullptr, "a hint names no control of the panel:", std::to_string(id));
        return c->kind;
    };
    auto once = [&](int id) {
        check(placed.insert(id).second, "a hint places a control twice:", p.find(id)->constant);
    };
    auto hasFace = [](Kind k) { return k != Kind::Decoration && k != Kind::Timer; };
    for (int id : h.hidden) {
        kindOf(id);
        once(id);
    }
    for (int id : h.header) {
        check(hasFace(kindOf(id)), "a faceless control heads the window");
        once(id);
    }
    for (int id : h.buttons) {
        check(kindOf(id) == Kind::Button, "the button row names a non-button");
        once(id);
    }
    if (h.quit) {
        check(kindOf(h.quit) == Kind::Button, "the quit hint names a non-button");
        once(h.quit);
    }
    if (h.enter)
        check(kindOf(h.enter) == Kind::Button, "the enter hint names a non-button");
    std::set<std::string> groups;
    for (const ui::SectionHint& s : h.sections) {
        check(s.column >= 0 && s.column < 8 && s.split >= 1 && s.split <= 8,
              "a section's column or split out of range");
        check(s.group.empty() || groups.insert(s.group).second, "two sections for one group:", s.group);
        if (s.titleMsg) {
            check(kindOf(s.titleMsg) == Kind::TextMsg, "a frame titled by a non-text message");
            once(s.titleMsg);
        }
        for (const ui::RowHint& r : s.rows) {
            const Kind k = kindOf(r.ctrl);
            check(hasFace(k) && k != Kind::Picture, "a row holds a control that cannot stand in one");
            once(r.ctrl);
            for (int text : {r.label, r.unit})
                if (text) {
                    check(kindOf(text) == Kind::TextMsg, "a row's label or unit is not a text message");
                    once(text);
                }
        }
    }
}

// Whatever the hints say, the window's plan places every control exactly once, with a
// bounded number of columns and only buttons in the button row, the quit button last.
void checkPlan(const ui::Panel& p)
{
    const ui::qt::PanelPlan plan = ui::qt::PlanPanel(p);
    std::map<int, int> n;
    auto add = [&](int id) {
        if (id)
            ++n[id];
    };
    for (int id : plan.header)
        add(id);
    for (int id : plan.hidden)
        add(id);
    for (int id : plan.buttons) {
        add(id);
        check(p.find(id) && p.find(id)->kind == ui::Kind::Button, "the button row holds a non-button");
    }
    for (const auto& s : plan.sections) {
        add(s.titleCtrl);
        for (int id : s.side)
            add(id);
        for (const auto& r : s.rows)
            for (int id : {r.ctrl, r.label, r.unit, r.lamp})
                add(id);
    }
    check(n.size() == p.controls.size(), "the plan leaves a control out or places one the panel lacks");
    for (const auto& [id, times] : n)
        check(times == 1 && p.find(id), "the plan places a control twice:", std::to_string(id));
    check(plan.columns >= 1 && plan.columns <= 8, "the plan has too many columns");
    check(!plan.quitCtrl || (!plan.buttons.empty() && plan.buttons.back() == plan.quitCtrl),
          "the quit button does not end the row");
}

bool callbacksKnown(const ui::Panel& p)
{
    static const ui::CallbackRegistry known = test::recordingRegistry(nullptr);
    for (const ui::Control& c : p.controls)
        if (!c.callbackName.empty() && !known.count(c.callbackName))
            return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fx();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    Fixture& f = fx();
    const int panelId = data[0] % 11;
    const std::string json(reinterpret_cast<const char*>(data + 1), size - 1);

    ui::Panel parsed;
    const int rc = ui::ParsePanelResource(json, panelId, parsed);
    if (rc == 0) {
        checkWellFormed(parsed, panelId);
        checkHints(parsed);
        checkPlan(parsed);
    } else
        check(rc < 0, "the parser returned a positive code");

    {
        std::ofstream out(f.file, std::ios::binary | std::ios::trunc);
        out.write(json.data(), static_cast<std::streamsize>(json.size()));
    }
    const int h = f.panels.LoadPanel(0, f.file, panelId);
    if (rc < 0) {
        check(h == rc, "LoadPanel and the parser disagree on a bad resource");
    } else if (!callbacksKnown(parsed)) {
        check(h == UIE_UNKNOWN_CALLBACK, "a panel naming an unknown callback loaded");
    } else {
        check(h > 0, "a panel that parses did not load");
        const ui::Panel* p = f.panels.panel(h);
        check(p && p->controls.size() == parsed.controls.size(), "the loaded panel is not the parsed one");
        for (std::size_t i = 0; i < parsed.controls.size(); ++i) {
            const ui::Control& c = p->controls[i];
            check(c.id == parsed.controls[i].id && same(c.value, parsed.controls[i].value),
                  "the loaded panel is not the parsed one:", c.constant);
            check(c.callbackName.empty() || c.callback, "a named callback was not bound:", c.constant);
            // A value read back and set again is taken unchanged.
            ui::Value v;
            check(f.panels.GetCtrlValue(h, c.id, v) == 0, "a control cannot be read:", c.constant);
            if (c.type != ui::DataType::None || c.kind == ui::Kind::TextMsg) {
                check(f.panels.SetCtrlVal(h, c.id, v) == 0, "a control refuses its own value:", c.constant);
                ui::Value back;
                f.panels.GetCtrlValue(h, c.id, back);
                check(same(v, back), "a control changed its own value:", c.constant);
            }
        }
        f.panels.DisplayPanel(h);
        // Let every timer of the panel fall due once; each fires at most once per advance.
        f.calls.clear();
        const double due = f.panels.nextTimerDue();
        if (due < 1e7) {
            f.clock.advanceTo(due);
            f.panels.FireDueTimers();
            check(!f.calls.empty(), "a due timer did not fire");
        }
        check(f.panels.DiscardPanel(h) == 0, "the panel cannot be discarded");
    }
    check(f.panels.handles().empty(), "a panel was left behind");
    return 0;
}
