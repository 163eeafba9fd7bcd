#include "qt_tool_windows.h"

#include <QCoreApplication>
#include <QLibrary>
#include <QTimer>

#include <algorithm>
#include <limits>

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

#ifdef VEK_NO_TREND_MODULE
const char* const kTrendNotBuilt = "The trend chart is not in this build of the program: it was built without Qt Charts.";

QWidget* LoadTrendWindow(TrendRecorder& /*recorder*/, std::string& why)
{
    why = kTrendNotBuilt;
    return nullptr;
}
#else
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
#endif

void QtToolWindows::ShowTrend()
{
    if (!trend_) {
        std::string why;
        QWidget* w = makeTrend ? makeTrend(app_.trend, why) : LoadTrendWindow(app_.trend, why);
        if (!w) {
#ifdef VEK_NO_TREND_MODULE
            if (!makeTrend) {
                app_.io.MessagePopup("Trend", why);
                return;
            }
#endif
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
        // Shown by the delay below, never by the dialog's own guess of the time left.
        progress_->setMinimumDuration(std::numeric_limits<int>::max());
        progress_->setAutoClose(false);
        progress_->setAutoReset(false);
        // Cancel stops the job between two exchanges; its summary then says what was done.
        QObject::connect(progress_.get(), &QProgressDialog::canceled, progress_.get(),
                         [this] { app_.engine.RequestCancel(); });
    }
    progress_->setWindowTitle(QString::fromStdString(title));
    progress_->setLabelText(QString::fromStdString(text));
    progress_->setMaximum(std::max(1, total));
    progress_->setValue(std::clamp(done, 0, std::max(1, total)));
    if (progressShowing_ || progress_->isVisible())
        return;
    // A job that ends within the delay (a backup takes about 0.2 s) never flashes a window.
    progressShowing_ = true;
    QTimer::singleShot(progressDelayMs, progress_.get(), [this] {
        if (progressShowing_)
            progress_->show();
    });
}

void QtToolWindows::HideProgress()
{
    progressShowing_ = false;
    if (progress_) {
        progress_->reset();  // its Cancel forgotten for the next job
        progress_->hide();
    }
}

void QtToolWindows::ShowFindTransmitter()
{
    if (!find_)
        find_ = std::make_unique<FindWindow>(app_);
    find_->followSettings();
    raise(*find_);
}

}  // namespace vek::tools
