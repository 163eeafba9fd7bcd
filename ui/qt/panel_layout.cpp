#include "qt/panel_layout.h"

#include <algorithm>
#include <set>

namespace vek::ui::qt {

namespace {

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

// Every control a hint places by name. A group brings only its other members into its
// frame, so a control named in some row stays there whichever section comes first.
std::set<int> namedByHints(const LayoutHints& h)
{
    std::set<int> named(h.header.begin(), h.header.end());
    named.insert(h.hidden.begin(), h.hidden.end());
    named.insert(h.buttons.begin(), h.buttons.end());
    named.insert(h.quit);
    for (const auto& s : h.sections) {
        named.insert(s.titleMsg);
        for (const auto& r : s.rows)
            named.insert({r.ctrl, r.label, r.unit});
    }
    named.erase(0);
    return named;
}

bool isButton(const Panel& p, int id)
{
    const Control* c = p.find(id);
    return c && c->kind == Kind::Button;
}

}  // namespace

PanelPlan PlanPanel(const Panel& p)
{
    const LayoutHints& hints = p.layout;
    PanelPlan plan;
    std::set<int> placed;
    // Only controls of this panel, each once: the reader checks the resource's hints, but a
    // panel built by hand gets no such check.
    auto take = [&](int id) {
        if (id == 0 || !p.find(id) || placed.count(id))
            return false;
        placed.insert(id);
        return true;
    };
    const std::set<int> named = namedByHints(hints);

    plan.quitCtrl = isButton(p, hints.quit) ? hints.quit : 0;
    plan.enterCtrl = isButton(p, hints.enter) ? hints.enter : 0;

    for (const auto& c : p.controls)
        if (c.kind == Kind::Decoration || c.kind == Kind::Timer)
            if (take(c.id))
                plan.hidden.push_back(c.id);
    for (int id : hints.hidden)
        if (take(id))
            plan.hidden.push_back(id);

    for (const auto& c : p.controls)
        if (c.kind == Kind::Picture && take(c.id))
            plan.header.push_back(c.id);
    for (int id : hints.header)
        if (take(id))
            plan.header.push_back(id);

    // Sections from the hints, then a frame for each group the hints do not mention.
    std::vector<SectionHint> sections = hints.sections;
    for (const auto& c : p.controls) {
        if (c.group.empty())
            continue;
        const bool known =
            std::any_of(sections.begin(), sections.end(), [&](const auto& s) { return s.group == c.group; });
        if (!known) {
            SectionHint s;
            s.group = c.group;
            sections.push_back(std::move(s));
        }
    }

    for (const SectionHint& s : sections) {
        SectionPlan sp;
        sp.column = s.column;
        sp.wide = s.wide;
        sp.horizontal = s.horizontal;
        sp.split = s.split;
        sp.title = s.group;
        // Without a named title, the text message reading the group's name titles its frame.
        int title = s.titleMsg;
        if (!title && !s.group.empty())
            for (const auto& c : p.controls)
                if (c.kind == Kind::TextMsg && c.label == s.group && !placed.count(c.id) && !named.count(c.id)) {
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
        for (const RowHint& r : s.rows)
            addRow(r.ctrl, r.label, r.unit);
        if (!s.group.empty())
            for (const auto& c : p.controls)
                if (c.group == s.group && !named.count(c.id))
                    addRow(c.id, 0, 0);
        pairLamps(p, sp.rows);
        plan.sections.push_back(std::move(sp));
    }

    for (int id : hints.buttons)
        if (id != plan.quitCtrl && isButton(p, id) && take(id))
            plan.buttons.push_back(id);
    for (const auto& c : p.controls)
        if (c.kind == Kind::Button && c.id != plan.quitCtrl && take(c.id))
            plan.buttons.push_back(c.id);
    if (take(plan.quitCtrl))
        plan.buttons.push_back(plan.quitCtrl);

    // Whatever is left (a control the hints do not mention) goes to the last frame that
    // lays out rows, or to a frame of its own.
    std::vector<RowPlan> leftovers;
    for (const auto& c : p.controls)
        if (take(c.id))
            leftovers.push_back({c.id, 0, 0, 0});
    if (!leftovers.empty()) {
        auto it = std::find_if(plan.sections.rbegin(), plan.sections.rend(),
                               [](const SectionPlan& s) { return !s.horizontal; });
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
