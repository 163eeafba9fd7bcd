// How the windows answer while the program talks to the transmitter: the real program
// (offscreen) polling the simulator on a pseudo-terminal at 9600 baud, in real time.
//
//  1. Click to shown: N times, at a moment spread over a poll's 1 s reply wait, a mouse click
//     on the side of "Medium" ("User Set Up") not chosen is posted; the time from the post to
//     that side showing chosen is taken. The write it asks for then waits its turn behind the
//     poll.
//  2. The longest turn of the event loop over the whole run: how late a 1 ms timer fires at
//     worst.
//  3. The polls while a message box is open: a modal box is left up for 20 s; the polls sent
//     meanwhile and the spacing between them.
//
//   vek_bench_respond [--clicks N]   (default 10; other arguments are ignored)
#include <QApplication>
#include <QAbstractButton>
#include <QMouseEvent>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "panel_ids.h"
#include "program.h"
#include "qt/control_widgets.h"
#include "qt/event_loop.h"
#include "sim_harness.h"

using namespace vek;

namespace {

QElapsedTimer sinceStart;
double now() { return static_cast<double>(sinceStart.nsecsElapsed()) * 1e-9; }

// Runs the event loop until `done` or `seconds` have passed; false on the time-out.
bool runUntil(const std::function<bool()>& done, double seconds)
{
    const double end = now() + seconds;
    while (!done()) {
        if (now() > end)
            return false;
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);  // the 1 ms ticker wakes it
    }
    return true;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv)
{
    int clicks = 10;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--clicks") == 0)
            clicks = std::max(1, std::atoi(argv[i + 1]));
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    simtest::SimProcess sim;
    if (!sim.start({"--static", "--seed", "1"})) {
        std::fprintf(stderr, "cannot start the simulator: %s\n", sim.error().c_str());
        return 1;
    }
    setenv("VEK_COM1", sim.device().c_str(), 1);
    QApplication qapp(argc, argv);
    sinceStart.start();
    Program program(VEK_BINARY_DIR);
    if (program.start() < 0)
        return 1;
    // The panel timers (the polls) as the program's event loop runs them.
    ui::qt::TimerPump pump(program.panels());
    QObject::connect(&program.view(), &ui::qt::QtPanelView::userActionHandled, &pump, &ui::qt::TimerPump::kick);
    pump.poll();
    App& app = program.app();
    app.link.usPortNumber = 1;
    app.link.ulBaudRate = 0;
    app.link.usParity = 0;
    app.link.ucMBFlag = 1;
    app.link.slaveAddress = 1;

    // The longest turn of the event loop: a 1 ms timer's worst lateness.
    double lastTick = now(), longestTurn = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const double t = now();
        longestTurn = std::max(longestTurn, t - lastTick);
        lastTick = t;
    });
    ticker.start(1);

    // Poll sends, as the request count shows them (writes are counted there too: the frame
    // last sent tells them apart).
    std::vector<double> pollsAt;
    int counted = app.link.pollCount;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (counted == app.link.pollCount)
            return;
        counted = app.link.pollCount;
        const std::uint8_t* f = app.link.ucTxBuffer;
        if (f[1] == 3 && f[5] == 78)
            pollsAt.push_back(now());
    });
    watch.start(2);

    program.panels().PostEvent(app.st.panelMain, PANEL_SET_UP_UT, EVENT_COMMIT);
    auto* medium =
        qobject_cast<ui::qt::ChoiceButtons*>(program.view().controlWidget(app.st.panelUser, PANEL_4_MEDIUM));
    if (!medium || medium->count() < 2) {
        std::fprintf(stderr, "no Medium choice on User Set Up\n");
        return 1;
    }
    if (!runUntil([&] { return app.st.validResponseCount > 0; }, 12)) {
        std::fprintf(stderr, "no valid poll\n");
        return 1;
    }

    // 1. Clicks during a poll's wait.
    std::vector<double> shownAfter;
    for (int i = 0; i < clicks; ++i) {
        const std::size_t polls = pollsAt.size();
        if (!runUntil([&] { return pollsAt.size() > polls; }, 8))
            return 1;
        const double into = 0.1 + 0.8 * (i + 0.5) / clicks;  // spread over the wait
        runUntil([&] { return now() >= pollsAt.back() + into; }, 2);
        // A click on the side not chosen: press and release, as the mouse sends them.
        QAbstractButton* side = medium->button(medium->button(0)->isChecked() ? 1 : 0);
        const QPoint centre = side->rect().center();
        const QPointF global = side->mapToGlobal(QPointF(centre));
        double shown = -1;
        auto c = QObject::connect(side, &QAbstractButton::toggled, [&](bool on) {
            if (on)
                shown = now();
        });
        const double posted = now();
        QApplication::postEvent(side, new QMouseEvent(QEvent::MouseButtonPress, QPointF(centre), global,
                                                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
        QApplication::postEvent(side, new QMouseEvent(QEvent::MouseButtonRelease, QPointF(centre), global,
                                                      Qt::LeftButton, Qt::NoButton, Qt::NoModifier));
        runUntil([&] { return shown >= 0; }, 3);
        QObject::disconnect(c);
        if (shown < 0) {
            std::fprintf(stderr, "the box never changed\n");
            return 1;
        }
        shownAfter.push_back(shown - posted);
        runUntil([&] { return !app.engine.busy() && app.engine.waiting() == 0; }, 4);
    }
    const double turnDuringClicks = longestTurn;

    // 3. A message box left open for 20 s.
    const std::size_t pollsBeforeBox = pollsAt.size();
    double boxOpened = 0, boxClosed = 0;
    QTimer::singleShot(0, [&] {
        QTimer::singleShot(20000, [] {
            if (QWidget* box = QApplication::activeModalWidget())
                box->close();
        });
        boxOpened = now();
        QMessageBox::information(nullptr, "Bench", "Left open for 20 s.");
        boxClosed = now();
    });
    runUntil([&] { return boxClosed > 0; }, 30);
    std::vector<double> spacing;
    int inBox = 0;
    for (std::size_t i = pollsBeforeBox; i < pollsAt.size(); ++i) {
        if (pollsAt[i] >= boxOpened && pollsAt[i] <= boxClosed)
            ++inBox;
        if (i > 0)
            spacing.push_back(pollsAt[i] - pollsAt[i - 1]);
    }

    std::printf("click to shown during a poll's wait: %.2f ms median, %.2f ms max (%d clicks, 0.1 to 0.9 s into the wait)\n",
                median(shownAfter) * 1e3, *std::max_element(shownAfter.begin(), shownAfter.end()) * 1e3, clicks);
    std::printf("longest turn of the event loop while polling and writing: %.1f ms\n", turnDuringClicks * 1e3);
    std::printf("message box open %.1f s: %d polls sent meanwhile, %.2f s apart (median; %.2f to %.2f)\n",
                boxClosed - boxOpened, inBox, median(spacing),
                spacing.empty() ? 0 : *std::min_element(spacing.begin(), spacing.end()),
                spacing.empty() ? 0 : *std::max_element(spacing.begin(), spacing.end()));
    std::printf("valid replies %d of %d requests\n", app.st.validResponseCount, app.link.pollCount);
    if (std::getenv("VEK_BENCH_VERBOSE"))
        for (double t : pollsAt)
            std::printf("  poll sent at %.3f s\n", t);
    return 0;
}
