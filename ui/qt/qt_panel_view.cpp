#include "qt/qt_panel_view.h"

#include <QBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QSignalBlocker>

#include <algorithm>
#include <stdexcept>

namespace vek::ui::qt {

namespace {

// Set on every widget (and its inner widgets) that renders a control, so the event filter
// knows whose double-click it saw without a lookup table to keep in step.
constexpr const char* kHandleProp = "vekPanel";
constexpr const char* kCtrlProp = "vekCtrl";

// Refuses a panel holding a control the view cannot show, by name, before any of its
// window is made.
void requireAdapters(const Panel& p)
{
    for (const auto& c : p.controls) {
        try {
            AdapterFor(c.kind);
        } catch (const std::logic_error& e) {
            throw std::logic_error("panel " + p.constant + ", control " + c.constant + ": " + e.what());
        }
    }
}

}  // namespace

QtPanelView::QtPanelView(PanelModel& model, QObject* parent) : QObject(parent), model_(model)
{
    for (int h : model_.handles())
        requireAdapters(*model_.panel(h));
    model_.setObserver(this);
    for (int h : model_.handles()) {
        panelLoaded(h);
        if (const Panel* p = model_.panel(h); p && p->visible)
            panelShown(h);
    }
}

QtPanelView::~QtPanelView()
{
    model_.setObserver(nullptr);
    for (auto& [h, wv] : windows_)
        delete wv->window;
    for (auto& w : dying_)
        delete w.data();
}

WindowView* QtPanelView::find(int handle)
{
    auto it = windows_.find(handle);
    return it == windows_.end() ? nullptr : it->second.get();
}

const CtrlView* QtPanelView::findCtrl(int handle, int ctrl) const
{
    auto it = windows_.find(handle);
    if (it == windows_.end())
        return nullptr;
    auto c = it->second->ctrls.find(ctrl);
    return c == it->second->ctrls.end() ? nullptr : &c->second;
}

PanelWindow* QtPanelView::window(int handle) const
{
    // Building changes nothing the model or a caller can see but the window's existence.
    const_cast<QtPanelView*>(this)->ensureBuilt(handle);
    auto it = windows_.find(handle);
    return it == windows_.end() ? nullptr : it->second->window;
}

QWidget* QtPanelView::controlWidget(int handle, int ctrl) const
{
    const CtrlView* cv = findCtrl(handle, ctrl);
    return cv ? cv->widget : nullptr;
}

// --- building a window ---

QWidget* QtPanelView::makeControl(WindowView& wv, const Control& c, Role role, QWidget* parent)
{
    const ControlAdapter& adapter = AdapterFor(c.kind);
    QWidget* w = adapter.create(c, role, parent);
    w->setObjectName(qstr(c.constant));
    CtrlView& cv = wv.ctrls[c.id];
    cv.widget = w;
    cv.role = role;
    cv.adapter = &adapter;
    // A frame's title is the frame: a double-click inside it belongs to what is inside.
    if (role != Role::FrameTitle) {
        adapter.connect(*w, c, wv.window->handle(), *this);
        attachFilters(wv.window->handle(), c.id, w);
    }
    return w;
}

void QtPanelView::attachFilters(int handle, int ctrl, QWidget* w)
{
    QList<QWidget*> targets{w};
    targets += w->findChildren<QWidget*>();
    for (QWidget* t : targets) {
        t->setProperty(kHandleProp, handle);
        t->setProperty(kCtrlProp, ctrl);
        t->installEventFilter(this);
    }
}

void QtPanelView::ensureBuilt(int handle, int without)
{
    if (unbuilt_.erase(handle))
        build(handle, without);
}

void QtPanelView::build(int handle, int without)
{
    const Panel* p = model_.panel(handle);
    if (!p)
        return;
    requireAdapters(*p);
    auto owned = std::make_unique<WindowView>();
    WindowView& wv = *owned;
    wv.plan = PlanPanel(*p);
    std::erase(wv.plan.header, without);
    auto* win = new PanelWindow(handle);
    win->setEscapeCloses(p->escapeCloses);
    wv.window = win;
    win->setObjectName(qstr(p->constant));
    connect(win, &PanelWindow::closeRequested, this, [this](int h) {
        WindowView* v = find(h);
        if (!v)
            return;
        if (v->plan.quitCtrl)
            userEvent(h, v->plan.quitCtrl, EVENT_COMMIT);
        else
            model_.HidePanel(h);  // nothing to press: the window just goes out of sight
    });

    LayOutWindow(
        wv, *p, [this, &wv](const Control& c, Role role, QWidget* parent) { return makeControl(wv, c, role, parent); });

    windows_[handle] = std::move(owned);
    for (const auto& c : p->controls) {
        syncValue(handle, c.id);
        syncAttributes(handle, c.id);
    }
    syncTitle(handle);
    win->adjustSize();
    // A window that is not a dialog to type into (the main window, the set-up windows)
    // opens with the focus on itself: no caret blinks in an entry, repainting it twice a
    // second, until the user clicks or tabs into one. Dialogs with an Enter button keep
    // the focus in their first entry, ready for typing.
    if (!wv.plan.enterCtrl) {
        win->setFocusPolicy(Qt::ClickFocus);
        win->setFocus(Qt::OtherFocusReason);
    }
}

// --- model -> window ---

void QtPanelView::panelLoaded(int handle)
{
    // A kind without an adapter is refused now, as when the window was built at once.
    if (const Panel* p = model_.panel(handle)) {
        requireAdapters(*p);
        unbuilt_.insert(handle);
    }
}

void QtPanelView::panelDiscarded(int handle)
{
    if (unbuilt_.erase(handle))
        return;
    auto it = windows_.find(handle);
    if (it == windows_.end())
        return;
    PanelWindow* win = it->second->window;
    windows_.erase(it);
    // The discard may come from a callback that one of this window's own widgets is still
    // inside (its Quit button's click); the window goes out of sight now and is deleted
    // once control is back in the event loop.
    win->hide();
    win->deleteLater();
    dying_.erase(
        std::remove_if(dying_.begin(), dying_.end(), [](const QPointer<PanelWindow>& w) { return w.isNull(); }),
        dying_.end());
    dying_.emplace_back(win);
}

void QtPanelView::panelShown(int handle)
{
    if (PanelWindow* w = window(handle)) {
        // Showing a window that is already open brings it forward, so a button that opens
        // an open panel lands the user on it.
        w->show();
        w->raise();
        w->activateWindow();
    }
}

void QtPanelView::panelHidden(int handle)
{
    if (PanelWindow* w = window(handle))
        w->hide();
}

void QtPanelView::panelActivated(int handle)
{
    if (PanelWindow* w = window(handle)) {
        w->raise();
        w->activateWindow();
    }
}

void QtPanelView::panelAttributeChanged(int handle, int attr)
{
    if (attr == ATTR_TITLE)
        syncTitle(handle);
}

void QtPanelView::syncTitle(int handle)
{
    const Panel* p = model_.panel(handle);
    if (PanelWindow* w = window(handle); w && p)
        w->setWindowTitle(qstr(p->title));
}

void QtPanelView::controlAdded(int handle, int ctrl)
{
    ensureBuilt(handle, ctrl);
    WindowView* wv = find(handle);
    const Control* c = model_.control(handle, ctrl);
    if (!wv || !c)
        return;
    // Controls made at run time are pictures (the logo): they lead the header.
    QWidget* w = makeControl(*wv, *c, Role::Plain, wv->window);
    wv->header->insertWidget(0, w);
    w->show();  // a layout would only show it on the next turn of the event loop
    syncValue(handle, ctrl);
    syncAttributes(handle, ctrl);
}

void QtPanelView::controlValueChanged(int handle, int ctrl) { syncValue(handle, ctrl); }

void QtPanelView::controlAttributeChanged(int handle, int ctrl, int attr)
{
    syncAttributes(handle, ctrl);
    if (attr == ATTR_LABEL_TEXT)
        syncValue(handle, ctrl);
}

void QtPanelView::controlFocused(int handle, int ctrl)
{
    ensureBuilt(handle);
    if (QWidget* w = controlWidget(handle, ctrl))
        w->setFocus(Qt::OtherFocusReason);
}

void QtPanelView::syncValue(int handle, int ctrl)
{
    const Control* c = model_.control(handle, ctrl);
    const CtrlView* cv = findCtrl(handle, ctrl);
    if (!c || !cv || !cv->widget)
        return;
    {
        const QSignalBlocker block(cv->widget);
        cv->adapter->showValue(*cv->widget, *c);
    }
    // A message that labels a value names that value for screen readers too.
    if (WindowView* wv = find(handle))
        for (auto& [id, other] : wv->ctrls)
            if (other.labelMsg == ctrl)
                syncAttributes(handle, id);
}

void QtPanelView::syncAttributes(int handle, int ctrl)
{
    const Control* c = model_.control(handle, ctrl);
    const CtrlView* cv = findCtrl(handle, ctrl);
    if (!c || !cv || !cv->widget)
        return;
    cv->adapter->showAttributes(*cv->widget, *c, cv->role);
    if (cv->label) {
        cv->label->setEnabled(!c->dimmed);
        cv->label->setText(qstr(c->label));
    }
    // A text message standing in as this value's label greys out with it.
    if (cv->labelMsg)
        if (const CtrlView* lv = findCtrl(handle, cv->labelMsg); lv && lv->widget) {
            const Control* m = model_.control(handle, cv->labelMsg);
            lv->widget->setEnabled(!c->dimmed && !(m && m->dimmed));
        }

    QString name = qstr(c->label);
    if (name.isEmpty() && cv->labelMsg)
        if (const Control* m = model_.control(handle, cv->labelMsg))
            name = qstr(m->label);
    cv->widget->setAccessibleName(name);
}

// --- window -> model ---

void QtPanelView::userValue(int handle, int ctrl, const Value& v)
{
    // A window already let go of is on its way out: hiding it takes the focus from an
    // entry, and that must not commit into a panel the model is discarding.
    if (!find(handle))
        return;
    if (model_.UserSetValue(handle, ctrl, v) < 0)
        syncValue(handle, ctrl);  // refused: show the model's value again
    emit userActionHandled();
}

void QtPanelView::userEvent(int handle, int ctrl, int event)
{
    const Control* c = model_.control(handle, ctrl);
    if (!c || !find(handle))
        return;
    // A button acts on what its window's boxes show. One holding an entry it does not take
    // refuses the press (with the reason), as Enter in that box would. The quit button closes
    // the window and leaves unconfirmed edits behind.
    const WindowView* wv = find(handle);
    const bool quits = wv && ctrl == wv->plan.quitCtrl;
    if (event == EVENT_COMMIT && c->kind == Kind::Button && !quits && !commitPendingEdits(handle)) {
        emit userActionHandled();
        return;
    }
    model_.PostEvent(handle, ctrl, event);
    emit userActionHandled();
}

void QtPanelView::userEnter(int handle, int ctrl, const Value& typed)
{
    const Control* c = model_.control(handle, ctrl);
    if (!c || !find(handle))
        return;
    const bool ownCallback = static_cast<bool>(c->callback);
    // Enter confirms the entry: a new value raises value-changed and commit, an unchanged one
    // commit alone.
    if (c->value != typed)
        userValue(handle, ctrl, typed);
    else
        model_.PostEvent(handle, ctrl, EVENT_COMMIT);
    // An entry with nothing of its own to do hands Enter to the window's Enter button, as a
    // dialog's default button would (the password box, the write dialogs).
    if (WindowView* wv = find(handle); wv && !ownCallback && wv->plan.enterCtrl)
        model_.PostEvent(handle, wv->plan.enterCtrl, EVENT_COMMIT);
    emit userActionHandled();
}

void QtPanelView::refuseEntry(const QString& why)
{
    if (presenter_)
        presenter_->MessagePopup("Warning", why.toStdString());
}

bool QtPanelView::commitPendingEdits(int handle)
{
    // A button pressed without the focus leaving a half-typed entry (a keyboard shortcut, an
    // accessibility tool) must still see what is typed there, as a focus change would give it.
    WindowView* wv = find(handle);
    if (!wv)
        return true;
    bool taken = true;
    std::vector<int> ids;
    for (const auto& [id, cv] : wv->ctrls)
        ids.push_back(id);
    for (int id : ids) {
        const CtrlView* cv = findCtrl(handle, id);
        const Control* c = model_.control(handle, id);
        if (!cv || !cv->widget || !c || c->indicator || c->dimmed)
            continue;
        taken = cv->adapter->commitPending(*cv->widget, *c, handle, *this) && taken;
    }
    return taken;
}

bool QtPanelView::eventFilter(QObject* watched, QEvent* event)
{
    const QVariant ctrl = watched->property(kCtrlProp);
    if (!ctrl.isValid())
        return false;
    const int handle = watched->property(kHandleProp).toInt();
    const int id = ctrl.toInt();
    if (event->type() == QEvent::MouseButtonDblClick) {
        if (static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton)
            return false;
        userEvent(handle, id, EVENT_LEFT_DOUBLE_CLICK);
        // Text fields keep their word selection; everything else swallows the double-click so
        // it neither climbs to an enclosing control nor presses a button a second time.
        return qobject_cast<QLineEdit*>(watched) == nullptr;
    }
    return false;
}

}  // namespace vek::ui::qt
