// The Qt side of the platform: message boxes, and the event loop that fires the panel timers.
#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <ctime>

#include "panel_ids.h"
#include "qt/event_loop.h"
#include "qt/qt_presenter.h"
#include "view_fixture.h"

using namespace vek::ui;
using namespace vek::platform;
using namespace vek::ui::qt;
using namespace vek::ui::testing;

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

