// The windows that are not panels of the resource: the traffic monitor, the trend chart,
// the set-up comparison and Find Transmitter. The application opens them through this
// interface only, so app/ stays free of Qt; the program wires the Qt windows in, tests a
// recorder of the calls.
#pragma once
#include <string>

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
    // A long job under way (a backup, comparison or restore): `text` says what it does now,
    // `done` of `total` steps are behind it. Its Cancel asks the link engine to stop the job
    // between two exchanges. Shown until HideProgress.
    virtual void ShowProgress(const std::string& title, const std::string& text, int done, int total) = 0;
    virtual void HideProgress() = 0;
};

}  // namespace vek
