// What a poll costs the program in CPU time, over a pseudo-terminal and over loopback TCP to
// the simulator serving each kind of gateway: the whole program headless, its real link and
// the plain clock, polling as the main window's timer does. Each poll waits out its 1 s
// window, so most of the cost is looking at the link while waiting. CPU is this process's
// (user + system, getrusage); the simulator's is not counted.
// `vek_bench_poll_cpu [POLLS]`: POLLS polls on each link (default 10).
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "headless.h"
#include "sim_harness.h"

using namespace vek;
using bench::Headless;

namespace {

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Milliseconds of CPU a poll costs on the link `kind` names (0 the pseudo-terminal, 1 RTU
// over TCP, 2 Modbus TCP).
double cpuPerPoll(int kind, int polls)
{
    simtest::SimProcess sim;
    std::vector<std::string> args = {"--static", "--seed", "1"};
    if (kind != 0)
        args.insert(args.end(), {"--tcp", "0", "--tcp-kind", kind == 2 ? "mbap" : "rtu"});
    if (!sim.start(args)) {
        std::fprintf(stderr, "cannot start the simulator: %s\n", sim.error().c_str());
        std::exit(1);
    }
    if (kind == 0)
        setenv("VEK_COM1", sim.device().c_str(), 1);
    Headless h;
    if (kind != 0) {
        const std::string where = sim.device();
        const auto colon = where.rfind(':');
        h.app.st.network = {kind, where.substr(0, colon), std::stoi(where.substr(colon + 1))};
        ApplyNetworkSettings(h.app);
    }
    Modbus_Communication(h.app);  // the first poll opens the link: not counted
    const int validBefore = h.app.link.responseValid ? 1 : 0;
    const double t0 = cpuSeconds();
    int valid = 0;
    for (int i = 0; i < polls; ++i) {
        Modbus_Communication(h.app);
        valid += h.app.link.responseValid ? 1 : 0;
    }
    const double ms = (cpuSeconds() - t0) * 1000.0 / polls;
    if (valid != polls || !validBefore) {
        std::fprintf(stderr, "only %d of %d polls were answered\n", valid, polls);
        std::exit(1);
    }
    return ms;
}

}  // namespace

int main(int argc, char** argv)
{
    const int polls = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const double pty = cpuPerPoll(0, polls);
    const double rtu = cpuPerPoll(1, polls);
    const double mbap = cpuPerPoll(2, polls);
    std::printf("CPU a poll, %d polls each: pseudo-terminal %.2f ms; RTU over TCP %.2f ms (%.2fx); Modbus TCP %.2f ms "
                "(%.2fx)\n",
                polls, pty, rtu, rtu / pty, mbap, mbap / pty);
    return 0;
}
