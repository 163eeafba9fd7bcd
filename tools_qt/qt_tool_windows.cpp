#include "qt_tool_windows.h"

#include <QCoreApplication>
#include <QLibrary>

#include <algorithm>

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

void QtToolWindows::ShowProgress(const std::string& title, const std::string& text, int done, int total)
{
    if (!progress_) {
        progress_ = std::make_unique<QProgressDialog>();
        progress_->setObjectName("JOB_PROGRESS");
        progress_->setWindowModality(Qt::NonModal);
        progress_->setMinimumDuration(0);
        progress_->setAutoClose(false);
        progress_->setAutoReset(false);
        // Cancel stops the job between two exchanges; the window stays until the job has stopped.
        QObject::connect(progress_.get(), &QProgressDialog::canceled, progress_.get(), [this] {
            app_.engine.RequestCancel();
            progress_->setLabelText(progress_->labelText() + "\nStopping after this exchange...");
        });
    }
    progress_->setWindowTitle(QString::fromStdString(title));
    progress_->setLabelText(QString::fromStdString(text));
    progress_->setMaximum(std::max(1, total));
    progress_->setValue(std::clamp(done, 0, std::max(1, total)));
    if (!progress_->isVisible())
        progress_->show();
}

void QtToolWindows::HideProgress()
{
    if (progress_)
        progress_->hide();
}

void QtToolWindows::ShowFindTransmitter()
{
    if (!find_)
        find_ = std::make_unique<FindWindow>(app_);
    raise(*find_);
}

}  // namespace vek::tools
