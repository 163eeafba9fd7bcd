// Running the program's windows: the Qt event loop plus the panel model's timers.
#pragma once

#include <QObject>
#include <QTimer>

#include "panel_model.h"

class QApplication;

namespace vek::ui::qt {

class QtPanelView;

// Fires the panel model's timers when they fall due, on a single-shot QTimer armed for the
// next due time after every tick and every user action, so an idle program sleeps from one
// tick to the next. Every path that can start or change a timer ends in one of those two
// (a timer changes only inside a callback, and callbacks run from a tick or a user action),
// so no extra looks are needed. While a callback runs (inside its Delay, behind a pop-up) a
// tick must not start: the model refuses, and the pump looks again when the callback has
// ended, which the tick or user action that started it reports by re-arming.
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

    // A wait is never longer than this: only a safety net for a timer changed by some path
    // that forgot to re-plan; a minute leaves a poll period of seconds undisturbed.
    static constexpr int kLongestWaitMs = 60000;
    // How soon to look again while a callback holds the model, should nothing re-plan the
    // wait when it ends; the tick or user action that started the callback normally does.
    static constexpr int kBusyRetryMs = 1000;

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
