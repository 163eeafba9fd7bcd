// The trend chart as a module the program loads when the chart is first shown (see
// CMakeLists.txt: Qt Charts stays out of the program's start).
#include "trend_window.h"

extern "C" __attribute__((visibility("default"))) QWidget* vek_make_trend_window(vek::TrendRecorder* recorder)
{
    return new vek::tools::TrendWindow(*recorder);
}
