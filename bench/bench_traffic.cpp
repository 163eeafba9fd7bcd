// CPU cost of one poll cycle (no waits: in-memory line, virtual clock) with the traffic and
// trend windows closed, and with one of them open and shown on Qt's offscreen platform.
// Every variant lets Qt handle its pending events (repaints included) once per cycle; the
// poll's callback and the repaint after it are timed apart, since only the first holds up
// the polling.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QLineSeries>

#include "app_rig.h"
#include "traffic_window.h"
#include "trend_window.h"

using namespace vek;
using vek::test::AppRig;

namespace {

enum class Open { None, Traffic, Trend };

void runCycles(benchmark::State& state, Open open, bool valid, bool withRepaint)
{
    AppRig rig;
    for (std::size_t i = 0; i < rig.regs.size(); ++i)
        rig.regs[i] = static_cast<std::uint16_t>(100 + 7 * i);
    rig.setFloat(3, 64.0f);
    rig.setFloat(5, 21.5f);
    rig.setFloat(7, 14.24f);
    rig.configurePort(1);
    AppRig::Bytes reply = rig.pollReplyFrom(1);
    if (!valid)
        reply.back() ^= 0xFF;
    rig.com.peer = [&rig, &reply](int port, const AppRig::Bytes&) { rig.com.inject(port, reply); };
    // A full recorder: the ring is at its bound and every frame drops the oldest, as after
    // a long session.
    for (std::size_t i = 0; i < kTrafficCapacity / 2; ++i) {
        rig.tick();
        rig.com.frames.clear();
        rig.com.opens.clear();
    }
    std::unique_ptr<tools::TrafficWindow> traffic;
    std::unique_ptr<tools::TrendWindow> trend;
    if (open == Open::Traffic) {
        traffic = std::make_unique<tools::TrafficWindow>(rig.app.traffic);
        traffic->show();
    } else if (open == Open::Trend) {
        trend = std::make_unique<tools::TrendWindow>(rig.app.trend);
        trend->show();
    }
    QApplication::processEvents();
    for (auto _ : state) {
        rig.tick();
        // The repaint that follows a poll happens in the event loop, after the poll's
        // callback has returned: timed only when asked for.
        if (!withRepaint)
            state.PauseTiming();
        QApplication::processEvents();
        rig.com.frames.clear();
        rig.com.opens.clear();
        if (!withRepaint)
            state.ResumeTiming();
    }
    if (open == Open::Traffic && traffic->model().rowCount() != static_cast<int>(kTrafficCapacity))
        state.SkipWithError("the traffic window did not follow the recorder");
    // The chart draws what its pixels show, not every point: its line ends at the newest poll.
    if (open == Open::Trend && valid) {
        const QLineSeries* level = trend->series(kLevelPercent);
        if (level->count() == 0 || level->at(level->count() - 1).x() != rig.app.trend.points().back().wallTime * 1000)
            state.SkipWithError("the trend window did not follow the polls");
    }
}

// The poll's own callback: what the polling pays while a window listens. A fixed count of
// cycles, since the untimed repaint after each would stretch an open-ended run.
void BM_Poll_WindowsClosed(benchmark::State& s) { runCycles(s, Open::None, true, false); }
BENCHMARK(BM_Poll_WindowsClosed)->Iterations(300);
void BM_Poll_TrafficOpen(benchmark::State& s) { runCycles(s, Open::Traffic, true, false); }
BENCHMARK(BM_Poll_TrafficOpen)->Iterations(300);
void BM_Poll_TrendOpen(benchmark::State& s) { runCycles(s, Open::Trend, true, false); }
BENCHMARK(BM_Poll_TrendOpen)->Iterations(300);
void BM_Poll_BadCrc_WindowsClosed(benchmark::State& s) { runCycles(s, Open::None, false, false); }
BENCHMARK(BM_Poll_BadCrc_WindowsClosed)->Iterations(300);
void BM_Poll_BadCrc_TrafficOpen(benchmark::State& s) { runCycles(s, Open::Traffic, false, false); }
BENCHMARK(BM_Poll_BadCrc_TrafficOpen)->Iterations(300);
// The same with the event loop's work that follows each poll (the open window's repaint).
void BM_PollAndRepaint_WindowsClosed(benchmark::State& s) { runCycles(s, Open::None, true, true); }
BENCHMARK(BM_PollAndRepaint_WindowsClosed)->Iterations(300);
void BM_PollAndRepaint_TrafficOpen(benchmark::State& s) { runCycles(s, Open::Traffic, true, true); }
BENCHMARK(BM_PollAndRepaint_TrafficOpen)->Iterations(300);
void BM_PollAndRepaint_TrendOpen(benchmark::State& s) { runCycles(s, Open::Trend, true, true); }
BENCHMARK(BM_PollAndRepaint_TrendOpen)->Iterations(300);

// Recording one frame alone (the part that runs whether or not a window is open).
void BM_RecordFrame(benchmark::State& state)
{
    TrafficRecorder r;
    std::uint8_t bytes[161] = {1, 3, 156};
    for (auto _ : state)
        r.Record(1.0, false, bytes, sizeof bytes, TrafficKind::Valid, false, "valid", 1000.0);
    benchmark::DoNotOptimize(r.size());
}
BENCHMARK(BM_RecordFrame);

}  // namespace
