#include "qt/event_loop.h"

#include <QApplication>

#include <algorithm>
#include <cmath>

#include "qt/qt_panel_view.h"

namespace vek::ui::qt {

TimerPump::TimerPump(PanelModel& model, QObject* parent) : QObject(parent), model_(model)
{
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &TimerPump::poll);
}

void TimerPump::poll()
{
    if (model_.timersMayTick()) {
        model_.FireDueTimers();
        model_.ProcessEvents();
    }
    rearm();
}

void TimerPump::kick()
{
    model_.ProcessEvents();
    rearm();
}

void TimerPump::rearm()
{
    if (!model_.timersMayTick()) {
        timer_.start(kBusyRetryMs);
        return;
    }
    const double left = model_.nextTimerDue() - model_.clock().now();
    int ms = kLongestWaitMs;
    if (left <= 0)
        ms = 0;
    else if (left * 1000.0 < kLongestWaitMs)
        ms = std::max(1, static_cast<int>(std::ceil(left * 1000.0)));
    timer_.start(ms);
}

int RunUserInterface(PanelModel& model, QApplication& app, QtPanelView* view)
{
    QApplication::setQuitOnLastWindowClosed(false);
    TimerPump pump(model);
    if (view)
        QObject::connect(view, &QtPanelView::userActionHandled, &pump, &TimerPump::kick);
    pump.poll();
    return app.exec();
}

void QuitUserInterface(int code) { QCoreApplication::exit(code); }

}  // namespace vek::ui::qt
