// The Qt traffic, trend and Find Transmitter windows behind the app's ToolWindows
// interface. Each window is made the first time it is asked for and kept (hidden when
// closed), so its column widths, series, zoom and last scan's list survive closing it.
#pragma once
#include <memory>

#include "app_state.h"
#include "tool_windows.h"

namespace vek::tools {

class FindWindow;
class TrafficWindow;
class TrendWindow;
class SetupCompareWindow;

class QtToolWindows : public ToolWindows {
public:
    explicit QtToolWindows(App& app);
    ~QtToolWindows() override;
    void ShowTraffic() override;
    void ShowTrend() override;
    void ShowSetupComparison(const SetupComparison& comparison) override;
    TrafficWindow* traffic() const { return traffic_.get(); }
    TrendWindow* trend() const { return trend_.get(); }
    SetupCompareWindow* setupCompare() const { return compare_.get(); }
    void ShowFindTransmitter() override;
    FindWindow* find() const { return find_.get(); }

private:
    App& app_;
    std::unique_ptr<TrafficWindow> traffic_;
    std::unique_ptr<TrendWindow> trend_;
    std::unique_ptr<SetupCompareWindow> compare_;
    std::unique_ptr<FindWindow> find_;
};

}  // namespace vek::tools
