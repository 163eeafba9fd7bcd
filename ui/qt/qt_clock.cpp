#include "qt/qt_clock.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <cmath>

namespace vek::ui::qt {

void QtClock::Delay(double seconds)
{
    if (!(seconds > 0))
        return;
    if (!QCoreApplication::instance()) {
        platform::SleepClock::Delay(seconds);
        return;
    }
    const double end = now() + seconds;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    bool timedOut = false;
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        timedOut = true;
        loop.quit();
    });
    for (;;) {
        const double left = end - now();
        if (left <= 0)
            return;
        // A timer may fire a hair early; the loop waits out the rest rather than return short.
        timer.start(static_cast<int>(std::ceil(left * 1000.0)));
        timedOut = false;
        // Windows repaint, timers run, and mouse and keys reach the windows at once: a ring
        // shows the item chosen, a box what is typed. What they ask of the program waits in
        // the panel model's queue, in the order the user acted, whatever the input came from
        // (keys, mouse, an accessibility tool), and runs when the callback that waits here has
        // ended; a value chosen meanwhile lands after the callback's readback, which cannot
        // undo it.
        loop.exec();
        // The loop also ends when the program is quitting (QCoreApplication::exit ends every
        // loop); waiting on then would keep a closing program alive.
        if (!timedOut)
            return;
    }
}

}  // namespace vek::ui::qt
