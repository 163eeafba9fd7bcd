// The windows that are not panels of the resource: the traffic monitor, the trend chart,
// the set-up comparison and Find Transmitter. The application opens them through this
// interface only, so app/ stays free of Qt; the program wires the Qt windows in, tests a
// recorder of the calls.
#pragma once

#include "setup_comparison.h"

namespace vek {

class ToolWindows {
public:
    virtual ~ToolWindows() = default;
    // Shows the window, or raises it when it is already shown.
    virtual void ShowTraffic() = 0;
    virtual void ShowTrend() = 0;
    // Shows a backup beside the transmitter (and what a restore did), replacing what the
    // window showed before.
    virtual void ShowSetupComparison(const SetupComparison& comparison) = 0;
    virtual void ShowFindTransmitter() = 0;
};

}  // namespace vek
