// CPU cost of one whole poll cycle with the Qt view attached (offscreen): the program's real
// callbacks and panel model as in bench_monitor.cpp, plus the windows the user sees, with
// every change the cycle makes painted before the next one starts. The 1.0 s reply wait is
// on the virtual clock, so what is timed is the cycle's own work: exchange, decode, the
// view's updates, relayouts and repaints. A regression in how much the windows redraw per
// poll shows here as a number.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QWidget>

#include <cstdlib>
#include <memory>

#include "app_rig.h"
#include "qt/qt_panel_view.h"

using namespace vek;
using vek::test::AppRig;

namespace {

// Two images of a transmitter whose level moves: alternating them makes every measurement
// on the main window change at each poll, as it does on a filling or emptying tank.
void fillImage(AppRig& rig, float level)
{
    for (std::size_t i = 0; i < rig.regs.size(); ++i)
        rig.regs[i] = static_cast<std::uint16_t>(100 + 7 * i);
    rig.regs[0] = static_cast<std::uint16_t>(5000 - 10 * level);
    rig.regs[1] = static_cast<std::uint16_t>(10 * level);
    rig.setFloat(3, level);
    rig.setFloat(5, 21.5f + level / 100);
    rig.setFloat(7, 4.0f + level * 0.16f);
    rig.setFloat(9, 41.2f + level / 10);
    rig.regs[24] = 1;     // UID
    rig.regs[67] = 0x11;  // model code
}

enum class Image { Moving, Steady };

void runCycles(benchmark::State& state, Image image)
{
    AppRig rig;
    ui::qt::QtPanelView view(rig.panels);
    rig.configurePort(1);
    fillImage(rig, 64.0f);
    const AppRig::Bytes first = rig.pollReplyFrom(1);
    fillImage(rig, image == Image::Moving ? 64.5f : 64.0f);
    const AppRig::Bytes second = rig.pollReplyFrom(1);
    bool odd = false;
    rig.com.peer = [&](int port, const AppRig::Bytes&) { rig.com.inject(port, (odd = !odd) ? first : second); };
    QWidget* main = view.window(rig.app.st.panelMain);
    if (!main || !main->isVisible()) {
        state.SkipWithError("the main window is not shown");
        return;
    }
    // The first cycles lay the window out and fill every field; what is measured is polling.
    for (int i = 0; i < 3; ++i) {
        rig.tick();
        QApplication::processEvents();
    }
    const int pollsBefore = rig.app.link.pollCount;
    const int validBefore = rig.app.st.validResponseCount;
    for (auto _ : state) {
        rig.tick();
        // The repaints the cycle asked for, as the event loop runs them after the callback.
        QApplication::processEvents();
        rig.com.frames.clear();
        rig.com.opens.clear();
    }
    const auto cycles = static_cast<int>(state.iterations());
    if (rig.app.link.pollCount - pollsBefore != cycles || rig.app.st.validResponseCount - validBefore != cycles)
        state.SkipWithError("the cycles did not all end with a valid reply");
}

void BM_PollCycleWithView_ValuesMoving(benchmark::State& state) { runCycles(state, Image::Moving); }
BENCHMARK(BM_PollCycleWithView_ValuesMoving)->Unit(benchmark::kMicrosecond);

// The transmitter answers the same values: only the statistics change on screen.
void BM_PollCycleWithView_ValuesSteady(benchmark::State& state) { runCycles(state, Image::Steady); }
BENCHMARK(BM_PollCycleWithView_ValuesSteady)->Unit(benchmark::kMicrosecond);

}  // namespace
