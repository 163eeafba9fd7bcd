// CPU cost of one poll cycle (no waits: in-memory line, virtual clock) with the traffic and
// trend windows closed, and with one of them open and shown on Qt's offscreen platform.
// Every variant lets Qt handle its pending events (repaints included) once per cycle, so the
// difference between them is what an open window adds to a poll.
#include <benchmark/benchmark.h>

#include <QApplication>

#include "app_rig.h"
#include "traffic_window.h"
#include "trend_window.h"

using namespace vek;
using vek::test::AppRig;

namespace {

enum class Open { None, Traffic, Trend };

void runCycles(benchmark::State& state, Open open, bool valid)
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
        QApplication::processEvents();
        rig.com.frames.clear();
        rig.com.opens.clear();
    }
    if (open == Open::Traffic && traffic->model().rowCount() != static_cast<int>(kTrafficCapacity))
        state.SkipWithError("the traffic window did not follow the recorder");
    if (open == Open::Trend && valid &&
        trend->pointsShown(kLevelPercent) != static_cast<int>(rig.app.trend.points().size()))
        state.SkipWithError("the trend window did not follow the polls");
}

void BM_Poll_WindowsClosed(benchmark::State& s) { runCycles(s, Open::None, true); }
BENCHMARK(BM_Poll_WindowsClosed);
void BM_Poll_TrafficOpen(benchmark::State& s) { runCycles(s, Open::Traffic, true); }
BENCHMARK(BM_Poll_TrafficOpen);
void BM_Poll_TrendOpen(benchmark::State& s) { runCycles(s, Open::Trend, true); }
BENCHMARK(BM_Poll_TrendOpen);
void BM_Poll_BadCrc_WindowsClosed(benchmark::State& s) { runCycles(s, Open::None, false); }
BENCHMARK(BM_Poll_BadCrc_WindowsClosed);
void BM_Poll_BadCrc_TrafficOpen(benchmark::State& s) { runCycles(s, Open::Traffic, false); }
BENCHMARK(BM_Poll_BadCrc_TrafficOpen);

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

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
