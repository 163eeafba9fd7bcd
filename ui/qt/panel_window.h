// A panel's window, what the view keeps about it, and the layout that turns the panel's plan
// into Qt layouts: a header, frames in columns, a row of buttons.
#pragma once

#include <QWidget>

#include <functional>
#include <map>

#include "panel_model.h"
#include "qt/control_adapter.h"
#include "qt/panel_layout.h"

class QBoxLayout;
class QLabel;

namespace vek::ui::qt {

// A panel's window. Closing it is a request the panel's callbacks answer, never done here.
class PanelWindow : public QWidget {
    Q_OBJECT
public:
    explicit PanelWindow(int handle) : handle_(handle) {}
    int handle() const { return handle_; }
    void setEscapeCloses(bool on) { escapeCloses_ = on; }

signals:
    void closeRequested(int handle);

protected:
    void closeEvent(QCloseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    int handle_;
    bool escapeCloses_ = true;
};

// The widgets that render one control.
struct CtrlView {
    QWidget* widget = nullptr;
    QLabel* label = nullptr;  // the row label the layout made from the control's label
    Role role = Role::Plain;
    int labelMsg = 0;  // a text message standing in as the label
    const ControlAdapter* adapter = nullptr;
};

struct WindowView {
    PanelWindow* window = nullptr;
    PanelPlan plan;
    std::map<int, CtrlView> ctrls;
    QBoxLayout* header = nullptr;  // controls made at run time join it
};

// Makes a control's widget, in its place's role, and records it in the window's controls.
using MakeControl = std::function<QWidget*(const Control& c, Role role, QWidget* parent)>;

// Fills wv.window with the panel's controls as wv.plan places them, each made by `make`;
// the controls the plan hides are made and hidden.
void LayOutWindow(WindowView& wv, const Panel& panel, const MakeControl& make);

}  // namespace vek::ui::qt
