// Turnaround of the transmitter simulator: from the moment the last byte of a poll has been
// handed to the line to the moment the first reply byte can be read, over many polls with
// --no-pacing. The floor is the 3.5-character silence that ends the request (3.65 ms at
// 9600 8N1, 1.82 ms at 19200); everything above it is the simulator's own cost.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ref_crc.h"
#include "sim_harness.h"

using namespace vek::simtest;

namespace {

struct Result {
    std::vector<double> ms;
    int bad = 0;
    int retried = 0;  // polls whose send could not be timed cleanly and were done again
};

// A send that took longer than this was interrupted by the scheduler, so the moment its
// last byte left is unknown; such polls are repeated rather than guessed at.
constexpr std::int64_t kCleanSendUs = 100;

Result measure(unsigned baud, int polls)
{
    Result res;
    SimProcess sim;
    if (!sim.start({"--no-pacing", "--baud", std::to_string(baud), "--seed", "1"})) {
        std::fprintf(stderr, "cannot start the simulator: %s\n", sim.error().c_str());
        std::exit(1);
    }
    LineMaster line;
    if (!line.open(sim.device(), baud)) {
        std::fprintf(stderr, "cannot open %s\n", sim.device().c_str());
        std::exit(1);
    }
    const Bytes request = readRequest(1, 0, 78);
    for (int i = 0; i < polls; ++i) {
        const auto before = monotonicUs();
        line.send(request);
        const auto sent = monotonicUs();
        const bool clean = sent - before <= kCleanSendUs;
        pollfd p{line.fd(), POLLIN, 0};
        if (::poll(&p, 1, 1000) != 1) {
            ++res.bad;
            continue;
        }
        const auto first = monotonicUs();
        const Bytes reply = line.receive(161, 1000, 0);
        if (reply.size() != 161 || reply[0] != 1 || reply[1] != 3 || reply[2] != 156 || !frameCrcOk(reply))
            ++res.bad;
        if (clean) {
            res.ms.push_back(static_cast<double>(first - sent) / 1000.0);
        } else {
            ++res.retried;
            if (res.retried <= polls)
                --i;
        }
        // Let the simulator see a silence before the next request, as a master's own
        // inter-frame gap would.
        usleep(2000);
    }
    line.close();
    sim.stop(SIGTERM);
    return res;
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const auto idx = static_cast<std::size_t>(p / 100.0 * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(idx, v.size() - 1)];
}

}  // namespace

int main(int argc, char** argv)
{
    int polls = 1000;
    if (argc > 2 && std::strcmp(argv[1], "--polls") == 0)
        polls = std::max(1, std::atoi(argv[2]));
    std::printf("vek-transmitter-sim turnaround, %d polls of 78 registers each, --no-pacing\n", polls);
    std::printf("%-7s %10s %10s %10s %10s %10s %6s %8s\n", "baud", "silence", "median", "p99", "min", "max", "bad",
                "retried");
    int status = 0;
    for (unsigned baud : {9600u, 19200u}) {
        const Result r = measure(baud, polls);
        const double silence = 3.5 * 10 * 1000.0 / baud;
        std::printf("%-7u %8.3fms %8.3fms %8.3fms %8.3fms %8.3fms %6d %8d\n", baud, silence, percentile(r.ms, 50),
                    percentile(r.ms, 99), percentile(r.ms, 0), percentile(r.ms, 100), r.bad, r.retried);
        if (r.bad)
            status = 1;
    }
    return status;
}
