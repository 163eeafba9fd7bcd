// How long Find Transmitter takes against the simulator on a pseudo-terminal, in real time:
// the whole program headless (panel model, real callbacks), the POSIX serial port and the
// plain clock, stepping the scan as its window does. Two figures:
//   - a full scan of one port: 6 line settings x 247 addresses, with a transmitter at the
//     last address of the last line setting;
//   - a transmitter at address 1 at the line setting tried last (19200 baud, odd parity,
//     with the saved settings at 9600, none): the time until its row is listed.
// The simulator runs with --check-baud, so probes at 9600 get no answer, as on a real line.
// A pseudo-terminal carries no parity: the simulator at 19200 also answers the probes at
// 19200 with no and even parity, which are listed as well and do not stop the scan.
// A third figure: a full scan of a gateway (247 addresses) through the simulator serving TCP
// on 127.0.0.1, for each kind of gateway, with the transmitter at address 247.
// `vek_bench_scan [RUNS]`: RUNS times the second figure (default 5); the full scans once.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app_state.h"
#include "files.h"
#include "panel_model.h"
#include "posix_rs232.h"
#include "presenter.h"
#include "headless.h"
#include "sim_harness.h"
#include "vek_app.h"

using namespace vek;
using bench::Headless;

namespace {

void startSim(simtest::SimProcess& sim, const std::vector<std::string>& args)
{
    if (!sim.start(args)) {
        std::fprintf(stderr, "cannot start the simulator: %s\n", sim.error().c_str());
        std::exit(1);
    }
    setenv("VEK_COM1", sim.device().c_str(), 1);
}

bool listed(const App& app, const ScanProbe& at)
{
    for (const ScanFind& f : app.scan.finds())
        if (f.kind == ScanFindKind::Transmitter && f.at == at)
            return true;
    return false;
}

double fullScan()
{
    simtest::SimProcess sim;
    startSim(sim, {"--slave", "247", "--baud", "19200", "--parity", "odd", "--check-baud", "--static", "--seed", "1"});
    Headless h;
    if (!h.app.scan.Start(h.app, {1}))
        std::exit(1);
    double waits = 0;
    for (const ScanProbe& p : h.app.scan.plan())
        waits += ProbeWait(p);
    const std::size_t probes = h.app.scan.total();
    const double t0 = h.clock.now();
    double foundAt = -1;
    for (;;) {
        const auto step = h.app.scan.Step(h.app);
        if (foundAt < 0 && listed(h.app, {1, 1, 2, 247}))
            foundAt = h.clock.now() - t0;
        if (step == TransmitterScan::StepResult::Finished)
            break;
    }
    const double total = h.clock.now() - t0;
    std::printf(
        "full scan of one port: %zu probes in %.1f s (their waits alone %.1f s; %.2f ms a probe beyond its "
        "wait); the transmitter at 19200, odd, address 247 listed after %.1f s; %zu rows\n",
        probes, total, waits, (total - waits) / static_cast<double>(probes) * 1000.0, foundAt,
        h.app.scan.finds().size());
    return total;
}

double address1LastLine()
{
    simtest::SimProcess sim;
    startSim(sim, {"--slave", "1", "--baud", "19200", "--parity", "odd", "--check-baud", "--static", "--seed", "1"});
    Headless h;
    if (!h.app.scan.Start(h.app, {1}))
        std::exit(1);
    // With the saved settings at address 1, address 1 at the other five line settings follows
    // as probes 2 to 6; 19200, odd is the last of them.
    const ScanProbe last{1, 1, 2, 1};
    const auto& plan = h.app.scan.plan();
    const auto at = std::find(plan.begin(), plan.end(), last) - plan.begin();
    if (at != 5) {
        std::fprintf(stderr, "address 1 at 19200, odd is probe %d, not 6\n", static_cast<int>(at) + 1);
        std::exit(1);
    }
    const double t0 = h.clock.now();
    while (!listed(h.app, last) && h.app.scan.Step(h.app) != TransmitterScan::StepResult::Finished) {
    }
    const double t = h.clock.now() - t0;
    h.app.scan.Cancel(h.app);
    if (!listed(h.app, last)) {
        std::fprintf(stderr, "address 1 at 19200, odd was not found\n");
        std::exit(1);
    }
    return t;
}

// A full scan of a gateway of `kind` (1 RTU over TCP, 2 Modbus TCP); its seconds.
double gatewayScan(int kind)
{
    simtest::SimProcess sim;
    if (!sim.start({"--tcp", "0", "--tcp-kind", kind == 2 ? "mbap" : "rtu", "--slave", "247", "--static", "--seed",
                    "1"})) {
        std::fprintf(stderr, "cannot start the simulator: %s\n", sim.error().c_str());
        std::exit(1);
    }
    const std::string where = sim.device();
    const auto colon = where.rfind(':');
    Headless h;
    h.app.st.network = {kind, where.substr(0, colon), std::stoi(where.substr(colon + 1))};
    ApplyNetworkSettings(h.app);
    if (!h.app.scan.StartGateway(h.app))
        std::exit(1);
    double waits = 0;
    for (const ScanProbe& p : h.app.scan.plan())
        waits += ProbeWait(p);
    const double t0 = h.clock.now();
    while (h.app.scan.Step(h.app) != TransmitterScan::StepResult::Finished) {
    }
    const double total = h.clock.now() - t0;
    const bool found = listed(h.app, {h.app.link.usPortNumber, 0, 0, 247, true});
    std::printf("full scan of a gateway (%s): %zu probes in %.1f s (their waits alone %.1f s); the transmitter at "
                "address 247 %s; %zu rows\n",
                kind == 2 ? "Modbus TCP" : "RTU over TCP", h.app.scan.done(), total, waits,
                found ? "listed" : "NOT FOUND", h.app.scan.finds().size());
    if (!found)
        std::exit(1);
    return total;
}

}  // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    std::vector<double> t;
    for (int i = 0; i < runs; ++i)
        t.push_back(address1LastLine());
    std::sort(t.begin(), t.end());
    std::printf(
        "address 1 at the line setting tried last (19200, odd): listed after %.3f s median, %.3f min, %.3f "
        "max (%d runs)\n",
        t[t.size() / 2], t.front(), t.back(), runs);
    fullScan();
    gatewayScan(1);
    gatewayScan(2);
    return 0;
}
