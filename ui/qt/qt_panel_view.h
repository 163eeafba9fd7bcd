// The Qt view of the panel model: one top-level window per loaded panel, kept in step with
// the model both ways.
//
// Model -> window: every observer call re-reads the model and updates the widgets with their
// signals blocked, so a programmatic change never comes back as a user change.
// Window -> model: a value the user changes goes to PanelModel::UserSetValue (which raises
// value-changed then commit); a button press posts a commit; a double-click on any control,
// indicators included, posts a left double-click; closing a window with the window manager
// posts a commit on that window's Quit/Exit button, so the callback decides what closing means.
//
// Every control widget has objectName = its constant and accessibleName = its label (a text
// message's text), so tests and accessibility tools find it.
//
// The view itself knows no widget: each control's kind has an adapter (control_adapter.h)
// that makes, connects and shows its widget, and panel_window.h arranges the widgets in
// their window.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <map>
#include <set>
#include <memory>
#include <vector>

#include "panel_model.h"
#include "presenter.h"
#include "qt/control_adapter.h"
#include "qt/panel_window.h"

namespace vek::ui::qt {

class QtPanelView : public QObject, public PanelObserver, private ControlHost {
    Q_OBJECT
public:
    // Becomes the model's observer and builds windows for panels loaded before it existed.
    explicit QtPanelView(PanelModel& model, QObject* parent = nullptr);
    ~QtPanelView() override;

    // The window of a loaded panel (built now if it was not yet), or nullptr once it is
    // discarded. A panel's window is built when it is first shown, focused, given a control
    // or asked for here: the hidden windows loaded at start-up cost nothing until then.
    PanelWindow* window(int handle) const;
    // The widget that renders a control (for a frame title, the frame), or nullptr.
    QWidget* controlWidget(int handle, int ctrl) const override;
    // Where the view tells the user why typed input was refused (none: refused silently).
    void setPresenter(Presenter* p) { presenter_ = p; }

    void panelLoaded(int handle) override;
    void panelDiscarded(int handle) override;
    void panelShown(int handle) override;
    void panelHidden(int handle) override;
    void panelActivated(int handle) override;
    void panelAttributeChanged(int handle, int attr) override;
    void controlAdded(int handle, int ctrl) override;
    void controlValueChanged(int handle, int ctrl) override;
    void controlAttributeChanged(int handle, int ctrl, int attr) override;
    void controlFocused(int handle, int ctrl) override;

signals:
    // A user action was handed to the model (and dispatched, unless a callback was running).
    void userActionHandled();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    WindowView* find(int handle);
    const CtrlView* findCtrl(int handle, int ctrl) const;
    // Builds the window of a panel loaded but not built yet; `without` is a control the
    // model has just added, which the caller places itself.
    void ensureBuilt(int handle, int without = 0);
    void build(int handle, int without = 0);
    QWidget* makeControl(WindowView& wv, const Control& c, Role role, QWidget* parent);
    void attachFilters(int handle, int ctrl, QWidget* w);
    void syncValue(int handle, int ctrl);
    void syncAttributes(int handle, int ctrl);
    void syncTitle(int handle);

    // The user's side, for the adapters; every call re-finds the window, since a callback
    // may discard it.
    const Control* control(int handle, int ctrl) const override { return model_.control(handle, ctrl); }
    void userValue(int handle, int ctrl, const Value& v) override;
    void userEvent(int handle, int ctrl, int event) override;
    void userEnter(int handle, int ctrl, const Value& typed) override;
    void showModelValue(int handle, int ctrl) override { syncValue(handle, ctrl); }
    void refuseEntry(const QString& why) override;
    // Hands every box's unconfirmed edit to the model; false when one was refused.
    bool commitPendingEdits(int handle);

    PanelModel& model_;
    Presenter* presenter_ = nullptr;
    std::map<int, std::unique_ptr<WindowView>> windows_;
    std::set<int> unbuilt_;  // panels loaded whose window is not built yet
    // Windows of discarded panels awaiting deferred deletion; deleted outright if the view
    // goes first.
    std::vector<QPointer<PanelWindow>> dying_;
};

}  // namespace vek::ui::qt
