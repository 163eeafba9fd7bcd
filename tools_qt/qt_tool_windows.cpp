#include "qt_tool_windows.h"

#include "setup_compare_window.h"
#include "find_window.h"
#include "traffic_window.h"
#include "trend_window.h"

namespace vek::tools {

namespace {

void raise(QWidget& w)
{
    w.show();
    w.raise();
    w.activateWindow();
}

}  // namespace

QtToolWindows::QtToolWindows(App& app) : app_(app) {}

QtToolWindows::~QtToolWindows() = default;

void QtToolWindows::ShowTraffic()
{
    if (!traffic_)
        traffic_ = std::make_unique<TrafficWindow>(app_.traffic);
    raise(*traffic_);
}

void QtToolWindows::ShowTrend()
{
    if (!trend_)
        trend_ = std::make_unique<TrendWindow>(app_.trend);
    raise(*trend_);
}

void QtToolWindows::ShowSetupComparison(const SetupComparison& comparison)
{
    if (!compare_)
        compare_ = std::make_unique<SetupCompareWindow>();
    compare_->setComparison(comparison);
    raise(*compare_);
}

void QtToolWindows::ShowFindTransmitter()
{
    if (!find_)
        find_ = std::make_unique<FindWindow>(app_);
    raise(*find_);
}

}  // namespace vek::tools
