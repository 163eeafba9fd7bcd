// The Qt side of the platform: waits that keep the windows alive, message boxes, and the
// event loop that fires the panel timers.
#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <ctime>

#include "panel_ids.h"
#include "qt/event_loop.h"
#include "qt/qt_clock.h"
#include "qt/qt_presenter.h"
#include "view_fixture.h"

using namespace vek::ui;
using namespace vek::platform;
using namespace vek::ui::qt;
using namespace vek::ui::testing;

TEST(QtClock, DelayWaitsItsTimeWithTheEventLoopRunningAndTheCpuIdle)
{
    QtClock clock;
    bool ranDuring = false;
    QTimer::singleShot(0, [&] { ranDuring = true; });
    const double t0 = clock.now();
    const std::clock_t cpu0 = std::clock();
    clock.Delay(0.2);
    const double waited = clock.now() - t0;
    const double cpu = static_cast<double>(std::clock() - cpu0) / CLOCKS_PER_SEC;
    EXPECT_GE(waited, 0.2);
    EXPECT_TRUE(ranDuring);  // events (repaints among them) are served during the wait
    EXPECT_LT(cpu, 0.1);     // waiting, not spinning
}

TEST(QtPresenter, MessagePopupShowsAModalBoxAndReturnsOnceDismissed)
{
    QString title, text;
    bool modal = false;
    auto dismiss = [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                title = box->windowTitle();
                text = box->text();
                modal = box->isModal();
                box->button(QMessageBox::Ok)->click();
            }
    };
    QTimer::singleShot(0, dismiss);
    QTimer::singleShot(3000, dismiss);  // if the first look came too early, the test still ends
    QtPresenter().MessagePopup("Warning", "Wrong Password!");
    EXPECT_EQ(title, "Warning");
    EXPECT_EQ(text, "Wrong Password!");
    EXPECT_TRUE(modal);
}

using TimerPumpTest = ViewTest;

TEST_F(TimerPumpTest, TheTimerTicksWhenDueAndNeverWhileACallbackRuns)
{
    const int h = open(PANEL);
    TimerPump pump(model);
    pump.poll();
    EXPECT_TRUE(callsOf("MB_COM").empty());
    // Nothing to do before the 5 s tick: the pump sleeps until then, with no looks between.
    EXPECT_EQ(pump.waitMs(), 5000);
    virtualClock.advanceTo(4.95);
    pump.poll();
    EXPECT_TRUE(callsOf("MB_COM").empty());
    EXPECT_EQ(pump.waitMs(), 50);
    virtualClock.advanceTo(5.0);
    pump.poll();
    EXPECT_EQ(callsOf("MB_COM"), (std::vector<Call>{{"MB_COM", h, PANEL_TIMER, EVENT_TIMER_TICK}}));

    // Due again while a button's callback runs: the pump must wait for it to end.
    virtualClock.advanceTo(10.0);
    std::size_t ticksDuring = 99;
    int waitDuring = -1;
    hooks["Get_Buttons"] = [&](int, int, int) {
        pump.poll();
        ticksDuring = callsOf("MB_COM").size();
        waitDuring = pump.waitMs();
    };
    QTest::mouseClick(widget(h, "INFO"), Qt::LeftButton);
    EXPECT_EQ(ticksDuring, 1u);
    EXPECT_EQ(waitDuring, TimerPump::kBusyRetryMs);
    pump.poll();
    EXPECT_EQ(callsOf("MB_COM").size(), 2u);
}

TEST_F(TimerPumpTest, RunUserInterfaceFiresDueTicksAndEndsWithTheQuitCode)
{
    const int h = open(PANEL);
    hooks["MB_COM"] = [](int, int, int) { QuitUserInterface(7); };
    QTimer::singleShot(0, [&] {
        virtualClock.advanceTo(5.0);
        QTest::mouseClick(widget(h, "INFO"), Qt::LeftButton);
    });
    EXPECT_EQ(RunUserInterface(model, *qApp, &view), 7);
    EXPECT_EQ(callsOf("MB_COM").size(), 1u);
    EXPECT_EQ(callsOf("Get_Buttons").size(), 1u);
    EXPECT_FALSE(QApplication::quitOnLastWindowClosed());
}

class QtClockViewTest : public ViewTest {
protected:
    QtClockViewTest() : ViewTest(qtClock) {}
    QtClock qtClock;
};

TEST_F(QtClockViewTest, AClickDuringACallbacksDelayRunsOnlyAfterThatCallbackEnds)
{
    const int h = open(PANEL);
    std::vector<std::string> order;
    hooks["Get_Buttons"] = [&](int, int ctrl, int) {
        if (ctrl == PANEL_INFO) {
            order.push_back("info begins");
            QTimer::singleShot(10, [&] { QTest::mouseClick(widget(h, "LOGGER"), Qt::LeftButton); });
            qtClock.Delay(0.1);
            order.push_back("info ends");
        } else if (ctrl == PANEL_LOGGER) {
            order.push_back("logger");
        }
    };
    QTest::mouseClick(widget(h, "INFO"), Qt::LeftButton);
    EXPECT_EQ(order, (std::vector<std::string>{"info begins", "info ends", "logger"}));
}

TEST_F(QtClockViewTest, QuittingDuringADelayEndsTheWaitAndTheProgram)
{
    open(PANEL);
    double waited = -1;
    QTimer::singleShot(0, [&] {
        QTimer::singleShot(20, [] { QuitUserInterface(3); });
        const double t0 = qtClock.now();
        qtClock.Delay(30.0);
        waited = qtClock.now() - t0;
    });
    EXPECT_EQ(RunUserInterface(model, *qApp, &view), 3);
    EXPECT_GE(waited, 0.0);
    EXPECT_LT(waited, 5.0);
}
