// The user's side of the model and its one-at-a-time dispatch: values the user gives,
// the event queue, and timer ticks.
#include <algorithm>
#include <cmath>
#include <exception>
#include <iostream>
#include <limits>

#include "panel_model.h"
#include "presenter.h"

namespace vek::ui {

int PanelModel::acceptsUserValue(const Control& c, const Value& v) const
{
    if (c.indicator || c.dimmed || !c.carriesValue())
        return UIE_TYPE_MISMATCH;
    if (c.type != DataType::String) {
        if (std::holds_alternative<std::string>(v))
            return UIE_TYPE_MISMATCH;
        const double d =
            std::holds_alternative<double>(v) ? std::get<double>(v) : static_cast<double>(std::get<long long>(v));
        if (!std::isfinite(d) || (c.min && d < *c.min) || (c.max && d > *c.max))
            return UIE_TYPE_MISMATCH;
        // A whole-number control takes whole numbers: 12.5 must not quietly become 12.
        const bool whole = c.type != DataType::Float && c.type != DataType::Double;
        if (whole && d != std::floor(d))
            return UIE_TYPE_MISMATCH;
        if (!c.items.empty() && c.itemIndexOf(static_cast<long long>(d)) < 0)
            return UIE_TYPE_MISMATCH;
    } else if (c.maxLength > 0 && std::holds_alternative<std::string>(v)) {
        // The limit counts characters as the user sees them: "é" is one, though two bytes.
        const std::string& text = std::get<std::string>(v);
        const auto chars = std::count_if(text.begin(), text.end(), [](char ch) { return (ch & 0xC0) != 0x80; });
        if (chars > c.maxLength)
            return UIE_TYPE_MISMATCH;
    }
    return 0;
}

int PanelModel::UserSetValue(int handle, int ctrl, const Value& v)
{
    if (!find(handle))
        return UIE_NO_SUCH_PANEL;
    Control* c = findCtrl(handle, ctrl);
    if (!c)
        return UIE_NO_SUCH_CONTROL;
    if (int rc = acceptsUserValue(*c, v); rc < 0)
        return rc;
    if (depth_ > 0) {
        queue_.push_back({handle, ctrl, 0, 0, 0, v});
    } else if (int rc = setAsUser(handle, ctrl, v); rc < 0) {
        return rc;
    }
    PostEvent(handle, ctrl, EVENT_VAL_CHANGED);
    PostEvent(handle, ctrl, EVENT_COMMIT);
    return 0;
}

int PanelModel::setAsUser(int handle, int ctrl, const Value& v)
{
    userSetting_ = true;
    const int rc = SetCtrlVal(handle, ctrl, v);
    userSetting_ = false;
    return rc;
}

void PanelModel::PostEvent(int handle, int ctrl, int event, int data1, int data2)
{
    queue_.push_back({handle, ctrl, event, data1, data2, std::nullopt});
    ProcessEvents();
}

void PanelModel::invoke(Panel& p, Control& c, int event, int data1, int data2)
{
    // Copy the callback: the panel (and the control with it) may be discarded inside it.
    CtrlCallback cb = c.callback;
    const int handle = p.handle, id = c.id;
    guarded([&] { cb(handle, id, event, nullptr, data1, data2); }, p.constant + "/" + c.constant);
}

void PanelModel::guarded(const std::function<void()>& work, const std::string& where)
{
    ++depth_;
    // The last defence: a callback that throws has a fault, and it is reported, but one fault
    // must not end the program or stop the polling. Faults the program knows of are handled
    // where they happen, never here.
    try {
        work();
    } catch (const std::exception& e) {
        --depth_;
        ReportInternalError(e.what(), where);
        return;
    } catch (...) {
        --depth_;
        ReportInternalError("an exception of unknown type", where);
        return;
    }
    --depth_;
}

void PanelModel::RunAsCallback(const std::function<void()>& work, const std::string& where)
{
    guarded(work, where);
    ProcessEvents();
}

void PanelModel::ReportInternalError(const std::string& what, const std::string& where)
{
    const std::string text = "internal error: " + what + " (in " + where +
                             "). The program goes on; please report this with what was being done.";
    if (!presenter_) {
        std::cerr << "Internal Error: " << text << '\n';
        return;
    }
    // A notice, not a box that waits: the polling goes on while it is shown. Should showing it
    // fail too, the program still goes on.
    try {
        presenter_->NoticePopup("Internal Error", text);
    } catch (...) {
        std::cerr << "Internal Error: " << text << '\n';
    }
}

void PanelModel::ProcessEvents()
{
    if (depth_ > 0)
        return;
    while (!queue_.empty()) {
        const Event e = queue_.front();
        queue_.pop_front();
        Panel* p = find(e.panel);
        Control* c = p ? p->find(e.ctrl) : nullptr;
        if (e.apply) {
            // The user's value lands now, after the callback that was running. A control
            // dimmed meanwhile takes nothing, and its events go nowhere either.
            if (c && !c->dimmed)
                setAsUser(e.panel, e.ctrl, *e.apply);
            continue;
        }
        // Events for a window discarded meanwhile, or a dimmed control, go nowhere.
        if (!c || !c->callback || c->dimmed)
            continue;
        invoke(*p, *c, e.event, e.data1, e.data2);
    }
}

double PanelModel::nextTimerDue() const
{
    double due = std::numeric_limits<double>::infinity();
    for (const auto& [h, p] : panels_)
        for (const auto& c : p->controls)
            if (c.kind == Kind::Timer && c.enabled && c.callback)
                due = std::min(due, c.nextDue);
    return due;
}

void PanelModel::FireDueTimers()
{
    if (!timersMayTick())
        return;
    for (;;) {
        const double now = clock_.now();
        Panel* duePanel = nullptr;
        Control* dueCtrl = nullptr;
        for (auto& [h, p] : panels_)
            for (auto& c : p->controls)
                if (c.kind == Kind::Timer && c.enabled && c.callback && c.nextDue <= now &&
                    (!dueCtrl || c.nextDue < dueCtrl->nextDue)) {
                    duePanel = p.get();
                    dueCtrl = &c;
                }
        if (!dueCtrl)
            break;
        // A tick that fell far behind (a long wait) fires once, not once per missed interval.
        dueCtrl->nextDue = std::max(dueCtrl->nextDue + dueCtrl->interval, now);
        if (dueCtrl->nextDue <= now)
            dueCtrl->nextDue = now + dueCtrl->interval;
        invoke(*duePanel, *dueCtrl, EVENT_TIMER_TICK, 0, 0);
        ProcessEvents();
    }
}

}  // namespace vek::ui
