// The trend chart comes from its module: "Trend" on the main window loads the module built
// beside the program, shows a chart over the session's points and keeps it; a module that
// cannot be loaded is said in a message, nothing is shown, and the next press tries again.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLibrary>

#include "app_rig.h"
#include "cwd_guard.h"
#include "qt_tool_windows.h"

using namespace vek;
using vek::test::AppRig;

namespace {

struct TrendModule : ::testing::Test {
    test::CwdGuard cwd;
    AppRig rig;
    App& app = rig.app;
    tools::QtToolWindows windows{app};

    void SetUp() override
    {
        app.windows = &windows;
        rig.configurePort(1);
    }
    void TearDown() override { app.windows = nullptr; }
    void pressTrend() { rig.panels.PostEvent(app.st.panelMain, PANEL_TREND, EVENT_COMMIT); }
};

}  // namespace

TEST_F(TrendModule, TheButtonLoadsTheChartFromItsModuleAndKeepsIt)
{
    rig.transmitter();
    rig.tick();
    ASSERT_EQ(app.trend.points().size(), 1u);
    // The program itself does not carry the chart: its module is not loaded before the press.
    EXPECT_FALSE(QLibrary(QCoreApplication::applicationDirPath() + "/vek-trend-window.so").isLoaded());

    pressTrend();
    QWidget* chart = windows.trend();
    ASSERT_NE(chart, nullptr) << (rig.popups.popups.empty() ? "" : rig.popups.popups.back().text);
    EXPECT_TRUE(chart->isVisible());
    EXPECT_EQ(chart->windowTitle(), "Trend");
    bool hasChart = false;
    for (const QWidget* w : chart->findChildren<QWidget*>())
        hasChart = hasChart || QString(w->metaObject()->className()).endsWith("QChartView");
    EXPECT_TRUE(hasChart) << "the module's window holds no chart";
    EXPECT_TRUE(rig.popups.popups.empty());

    // The chart listens to the session's recorder: a poll after it is shown reaches it.
    ASSERT_TRUE(static_cast<bool>(app.trend.onChange)) << "the chart does not follow the polls";
    rig.tick();
    EXPECT_EQ(app.trend.points().size(), 2u);
    QCoreApplication::processEvents();

    chart->close();
    pressTrend();
    EXPECT_EQ(windows.trend(), chart) << "a second press shows the same chart again";
    EXPECT_TRUE(chart->isVisible());
}

TEST_F(TrendModule, AChartThatCannotBeLoadedIsSaidAndTriedAgainNextTime)
{
    int tries = 0;
    windows.makeTrend = [&tries](TrendRecorder&, std::string& why) -> QWidget* {
        ++tries;
        why = "vek-trend-window.so: cannot open shared object file";
        return nullptr;
    };
    pressTrend();
    EXPECT_EQ(windows.trend(), nullptr);
    ASSERT_EQ(rig.popups.popups.size(), 1u);
    EXPECT_EQ(rig.popups.popups[0].text,
              "The trend chart could not be loaded: vek-trend-window.so: cannot open shared object file");
    pressTrend();
    EXPECT_EQ(tries, 2);
    EXPECT_EQ(windows.trend(), nullptr);
}
