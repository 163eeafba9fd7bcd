// How long backing up and restoring the set-up take against the simulator on a pseudo-terminal,
// in real time, at 9600 baud: the whole program headless (panel model, real callbacks), the
// POSIX serial port and the plain clock. The transmitter's image is static; 20 user set-up
// registers are changed after the backup, then "Restore..." of "User Set Up" writes them back:
// the time from the press (file and Yes answered at once) to the summary.
// `vek_bench_restore [RUNS]` (default 5).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app_state.h"
#include "files.h"
#include "panel_ids.h"
#include "panel_model.h"
#include "posix_rs232.h"
#include "presenter.h"
#include "headless.h"
#include "job.h"
#include "sim_harness.h"
#include "vek_app.h"

using namespace vek;

namespace {

App* current = nullptr;

// The user set-up registers changed after the backup: every one but the line settings and
// the two rings, which keep the simulator's line as it is.
constexpr int kChanged[] = {16, 17, 23, 38, 40, 43, 45, 46, 47, 48, 49, 50, 51, 52, 53, 66, 70, 71, 72, 73};

// The outcome of an exchange run with the lease: headless, the link waits on the plain clock,
// so it has ended when the call returns.
ExchangeOutcome finished(Async<ExchangeOutcome> exchange)
{
    ExchangeOutcome out;
    auto run = [](Async<ExchangeOutcome> e, App& app, ExchangeOutcome& o) -> Job {
        auto lease = co_await app.engine.Acquire();
        o = co_await e;
    };
    run(std::move(exchange), *current, out);
    return out;
}

double seconds() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

struct Figures {
    double backup, restore;
    std::string summary;
};

Figures once(const std::string& file)
{
    simtest::SimProcess sim;
    if (!sim.start({"--static", "--seed", "1"})) {
        std::fprintf(stderr, "cannot start the simulator: %s\n", sim.error().c_str());
        std::exit(1);
    }
    setenv("VEK_COM1", sim.device().c_str(), 1);
    bench::Headless h;
    App& app = h.app;
    current = &app;
    ui::PanelModel& panels = h.panels;
    ui::RecordingPresenter& popups = h.popups;
    panels.PostEvent(app.st.panelMain, PANEL_SET_UP_UT, EVENT_COMMIT);
    const int user = app.st.panelUser;

    std::remove(file.c_str());
    popups.fileAnswer = file;
    popups.confirmAnswer = true;
    double t0 = seconds();
    panels.PostEvent(user, PANEL_4_BACKUP, EVENT_COMMIT);
    const double backup = seconds() - t0;

    if (!finished(ReadAllRegisters(app)).valid())
        std::exit(1);
    for (int reg : kChanged) {
        const int now = MB_memory(app, reg);
        const bool sw = reg >= 45 && reg <= 53;
        if (!finished(WriteRegister(app, reg, static_cast<std::uint16_t>(sw ? 1 - (now & 1) : now + 1))).valid()) {
            std::fprintf(stderr, "register %d could not be changed\n", reg);
            std::exit(1);
        }
    }
    popups.popups.clear();
    t0 = seconds();
    panels.PostEvent(user, PANEL_4_RESTORE, EVENT_COMMIT);
    const double restore = seconds() - t0;
    return {backup, restore, popups.popups.empty() ? std::string() : popups.popups.back().text};
}

}  // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const std::string file = "/tmp/vek-bench-restore-" + std::to_string(getpid()) + ".json";
    std::vector<double> b, r;
    std::string summary;
    for (int i = 0; i < runs; ++i) {
        const Figures f = once(file);
        b.push_back(f.backup);
        r.push_back(f.restore);
        summary = f.summary;
    }
    std::remove(file.c_str());
    std::sort(b.begin(), b.end());
    std::sort(r.begin(), r.end());
    std::printf("back up (one read of 78 registers and the file): %.3f s median, %.3f max (%d runs)\n", b[b.size() / 2],
                b.back(), runs);
    std::printf(
        "restore of %zu changed user set-up registers at 9600 baud, press to summary: %.3f s median, "
        "%.3f min, %.3f max\n",
        std::size(kChanged), r[r.size() / 2], r.front(), r.back());
    std::printf("last summary: %s\n", summary.substr(0, summary.find('\n')).c_str());
    return summary.rfind("20 of 20", 0) == 0 ? 0 : 1;
}
