// The Qt traffic, trend and Find Transmitter windows behind the app's ToolWindows
// interface. Each window is made the first time it is asked for and kept (hidden when
// closed), so its column widths, series, zoom and last scan's list survive closing it.
#pragma once
#include <QProgressDialog>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>

#include "app_state.h"
#include "tool_windows.h"

namespace vek::tools {

class FindWindow;
class TrafficWindow;
class SetupCompareWindow;

class QtToolWindows : public ToolWindows {
public:
    explicit QtToolWindows(App& app);
    ~QtToolWindows() override;
    void ShowTraffic() override;
    void ShowTrend() override;
    void ShowSetupComparison(const SetupComparison& comparison) override;
    TrafficWindow* traffic() const { return traffic_.get(); }
    QWidget* trend() const { return trend_.get(); }
    // Makes the trend chart over `recorder`, or returns nullptr and says why in `why`. By
    // default the chart's module is loaded (LoadTrendWindow); tests may build it in.
    std::function<QWidget*(TrendRecorder& recorder, std::string& why)> makeTrend;
    SetupCompareWindow* setupCompare() const { return compare_.get(); }
    void ShowFindTransmitter() override;
    FindWindow* find() const { return find_.get(); }
    // A window of its own (not modal): the job's title, what it does now, a bar and Cancel.
    void ShowProgress(const std::string& title, const std::string& text, int done, int total) override;
    void HideProgress() override;
    QProgressDialog* progress() const { return progress_.get(); }
    // How long a job runs before its progress window shows.
    int progressDelayMs = 400;

private:
    App& app_;
    std::unique_ptr<TrafficWindow> traffic_;
    std::unique_ptr<QWidget> trend_;
    std::unique_ptr<SetupCompareWindow> compare_;
    std::unique_ptr<FindWindow> find_;
    std::unique_ptr<QProgressDialog> progress_;
    bool progressShowing_ = false;  // a job is under way: its window shows, or will
};

// Loads the trend chart's module (vek-trend-window.so beside the executable, else in the
// program's library folder) once, and makes a chart over `recorder`; nullptr and the
// reason in `why` when the module cannot be loaded.
QWidget* LoadTrendWindow(TrendRecorder& recorder, std::string& why);

}  // namespace vek::tools
