// CPU cost of one poll cycle without its waits: the whole program headless (panel model,
// real callbacks), the in-memory line and the virtual clock, so the 1.0 s wait costs
// nothing and what is timed is open, build, send, receive, check, decode and show.
// The transmitter's side only copies a reply built once into the input queue.
#include <benchmark/benchmark.h>

#include <vector>

#include "app_rig.h"

using namespace vek;
using vek::test::AppRig;

namespace {

enum class Answer { Good, Silent, BadCrc };

// A realistic image: a 5 m gauge with floats in its measurement registers.
void fillImage(AppRig& rig)
{
    for (std::size_t i = 0; i < rig.regs.size(); ++i)
        rig.regs[i] = static_cast<std::uint16_t>(100 + 7 * i);
    rig.regs[0] = 1800;
    rig.regs[1] = 3200;
    rig.setFloat(3, 64.0f);
    rig.setFloat(5, 21.5f);
    rig.setFloat(7, 14.24f);
    rig.setFloat(9, 41.2f);
    rig.regs[24] = 1;     // UID
    rig.regs[67] = 0x11;  // model code
}

void runCycles(benchmark::State& state, Answer answer, bool setUpWindowsOpen)
{
    AppRig rig;
    fillImage(rig);
    rig.configurePort(1);
    AppRig::Bytes reply = rig.pollReplyFrom(1);
    if (answer == Answer::BadCrc)
        reply.back() ^= 0xFF;
    rig.com.peer = [&rig, &reply, answer](int port, const AppRig::Bytes&) {
        if (answer != Answer::Silent)
            rig.com.inject(port, reply);
    };
    if (setUpWindowsOpen) {
        rig.app.st.userPanelOpen = PANEL_4;
        rig.app.st.advancedPanelOpen = PANEL_3;
    }
    for (auto _ : state) {
        rig.tick();
        // The line's own records would grow with every frame; they are the rig's, not the program's.
        rig.com.frames.clear();
        rig.com.opens.clear();
    }
    const auto cycles = static_cast<int>(state.iterations());
    const int expectedValid = answer == Answer::Good ? cycles : 0;
    if (rig.app.link.pollCount != cycles || rig.app.st.validResponseCount != expectedValid)
        state.SkipWithError("the cycles did not end as the line answered");
    state.counters["virtual_s_per_cycle"] =
        benchmark::Counter(rig.clock.totalDelayed() / static_cast<double>(state.iterations()));
}

void BM_PollCycle_ValidReply(benchmark::State& state) { runCycles(state, Answer::Good, false); }
BENCHMARK(BM_PollCycle_ValidReply);

// Both set-up windows open: their readback runs in every cycle too.
void BM_PollCycle_ValidReply_SetUpWindowsOpen(benchmark::State& state) { runCycles(state, Answer::Good, true); }
BENCHMARK(BM_PollCycle_ValidReply_SetUpWindowsOpen);

void BM_PollCycle_CorruptReply(benchmark::State& state) { runCycles(state, Answer::BadCrc, false); }
BENCHMARK(BM_PollCycle_CorruptReply);

void BM_PollCycle_NoReply(benchmark::State& state) { runCycles(state, Answer::Silent, false); }
BENCHMARK(BM_PollCycle_NoReply);

}  // namespace

BENCHMARK_MAIN();
