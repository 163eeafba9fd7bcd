#include "qt_tool_windows.h"

#include <QCoreApplication>
#include <QLibrary>

#include "vek_app.h"

#include "setup_compare_window.h"
#include "find_window.h"
#include "traffic_window.h"

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

QWidget* LoadTrendWindow(TrendRecorder& recorder, std::string& why)
{
    using Make = QWidget* (*)(TrendRecorder*);
    static Make make = nullptr;
    static std::string loadError;
    if (!make && loadError.empty()) {
        const QString dir = QCoreApplication::applicationDirPath();
        QString tried;
        for (const QString& path : {dir + "/" VEK_TREND_MODULE, dir + "/" VEK_MODULE_FROM_BIN "/" VEK_TREND_MODULE}) {
            // Kept loaded for the rest of the run: the chart's code lives in it.
            QLibrary lib(path);
            if (lib.load()) {
                make = reinterpret_cast<Make>(lib.resolve("vek_make_trend_window"));
                if (!make)
                    loadError = lib.errorString().toStdString();
                break;
            }
            tried += (tried.isEmpty() ? "" : "; ") + lib.errorString();
        }
        if (!make && loadError.empty())
            loadError = tried.toStdString();
    }
    if (!make) {
        why = loadError;
        return nullptr;
    }
    return make(&recorder);
}

void QtToolWindows::ShowTrend()
{
    if (!trend_) {
        std::string why;
        QWidget* w = makeTrend ? makeTrend(app_.trend, why) : LoadTrendWindow(app_.trend, why);
        if (!w) {
            app_.io.MessagePopup("Trend", "The trend chart could not be loaded: " + why);
            return;
        }
        trend_.reset(w);
    }
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
