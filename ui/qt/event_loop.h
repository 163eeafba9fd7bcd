// Running the program's windows: the Qt event loop plus the panel model's timers.
#pragma once

#include <QObject>
#include <QTimer>

#include "panel_model.h"

class QApplication;

namespace vek::ui::qt {

class QtPanelView;

// Fires the panel model's timers when they fall due, on a single-shot QTimer re-armed for
// the next due time after every tick and every user action. While a callback runs (inside
// its Delay, behind a pop-up) a tick must not start: the model refuses, and the pump simply
// tries again a little later.
class TimerPump : public QObject {
    Q_OBJECT
public:
    explicit TimerPump(PanelModel& model, QObject* parent = nullptr);

    // Fires every due timer unless a callback runs, then waits for the next one.
    void poll();
    // Runs events queued while a callback ran and re-plans the wait: a callback may have
    // loaded a panel with a timer or restarted one.
    void kick();
    // Milliseconds until the pump looks again, -1 when stopped.
    int waitMs() const { return timer_.isActive() ? timer_.interval() : -1; }

    // A wait is never longer than this, so a timer started by any path is seen in time.
    static constexpr int kLongestWaitMs = 1000;
    // How soon to look again while a callback holds the model.
    static constexpr int kBusyRetryMs = 100;

private:
    void rearm();

    PanelModel& model_;
    QTimer timer_;
};

// Runs the event loop until the program quits and returns the exit code. Windows closing
// never end the program by themselves: its Exit callback does, with QuitUserInterface.
// Pass the view so that user actions re-plan the timers at once.
int RunUserInterface(PanelModel& model, QApplication& app, QtPanelView* view = nullptr);

// Ends RunUserInterface with `code` once control is back in the event loop (also from
// inside a Delay or a pop-up, whose local loops end too).
void QuitUserInterface(int code);

}  // namespace vek::ui::qt
