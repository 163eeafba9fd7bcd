// vek-transmitter-sim: the I/O loop around the engine. One thread, asleep in ppoll() until a
// byte arrives, a silence ends, a reply byte is due or a signal asks us to stop.
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <algorithm>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "engine.h"
#include "event_log.h"
#include "options.h"
#include "port.h"
#include "transmitter.h"

using namespace vek::sim;

namespace {

volatile std::sig_atomic_t gStop = 0;
void onSignal(int) { gStop = 1; }

Micros monotonicUs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<Micros>(ts.tv_sec) * 1'000'000 + ts.tv_nsec / 1000;
}

// A device that vanished is looked for again this often; never in a tight loop.
constexpr Micros kReopenEvery = 500'000;
// A planned hang-up waits at least the grace and at most the limit for the master to read
// the last reply.
constexpr Micros kDrainGrace = 30'000;
constexpr Micros kDrainLimit = 500'000;

// Bytes we wrote that the master has not read yet.
int pendingAtPeer(const Port& port)
{
    int n = 0;
    if (port.keepFd < 0 || ioctl(port.keepFd, FIONREAD, &n) != 0)
        return 0;
    return n;
}

struct Runtime {
    Options options;
    Port port;
    std::unique_ptr<EventLog> log;
    bool linked = false;
};

bool openPort(Runtime& rt, const LineSettings& line, bool announce)
{
    std::string error;
    std::optional<Port> p = rt.options.device ? openDevice(*rt.options.device, line, error) : openPty(line, error);
    if (!p) {
        std::fprintf(stderr, "vek-transmitter-sim: %s\n", error.c_str());
        return false;
    }
    rt.port = *p;
    if (rt.options.link) {
        if (!makeLink(*rt.options.link, rt.port.path, error)) {
            std::fprintf(stderr, "vek-transmitter-sim: %s\n", error.c_str());
            closePort(rt.port);
            return false;
        }
        rt.linked = true;
    }
    if (announce) {
        // The first line (and the line after every return) is the device for the master.
        std::printf("%s\n", rt.port.path.c_str());
        std::fflush(stdout);
    }
    return true;
}

void shutPort(Runtime& rt)
{
    if (rt.linked)
        removeLink(*rt.options.link, rt.port.path);
    rt.linked = false;
    closePort(rt.port);
}

bool writeAll(Runtime& rt, const std::vector<std::uint8_t>& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(rt.port.fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // Nobody is draining the line: on a real bus those bytes would be lost too.
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            std::fprintf(stderr, "vek-transmitter-sim: output full, %zu reply bytes lost\n", bytes.size() - done);
            return true;
        }
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    const OptionsResult parsed = parseOptions(args);
    if (!parsed.ok) {
        std::fprintf(stderr, "vek-transmitter-sim: %s\nTry 'vek-transmitter-sim --help'.\n", parsed.error.c_str());
        return 2;
    }
    Runtime rt;
    rt.options = parsed.options;
    if (rt.options.help) {
        std::fputs(usage("vek-transmitter-sim").c_str(), stdout);
        return 0;
    }
    if (rt.options.version) {
        std::fputs(versionLine("vek-transmitter-sim").c_str(), stdout);
        return 0;
    }
    const std::uint64_t seed =
        rt.options.seed ? *rt.options.seed
                        : (static_cast<std::uint64_t>(std::random_device{}()) << 32) ^ std::random_device{}();
    const Startup setup = resolveStartup(rt.options, seed);
    if (!setup.ok) {
        std::fprintf(stderr, "vek-transmitter-sim: %s\n", setup.error.c_str());
        return 2;
    }
    if (rt.options.logPath) {
        std::FILE* f = std::fopen(rt.options.logPath->c_str(), "w");
        if (!f) {
            std::fprintf(stderr, "vek-transmitter-sim: %s: %s\n", rt.options.logPath->c_str(), std::strerror(errno));
            return 2;
        }
        rt.log = std::make_unique<JsonLinesLog>(f);
    }

    // Signals are blocked except inside ppoll(), so a stop request can never slip in between
    // checking the flag and going to sleep.
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    // A reader of our stdout that has gone away must not take the transmitter down with it.
    signal(SIGPIPE, SIG_IGN);
    sigset_t blocked, waitMask;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGINT);
    sigaddset(&blocked, SIGTERM);
    sigprocmask(SIG_BLOCK, &blocked, &waitMask);
    sigdelset(&waitMask, SIGINT);
    sigdelset(&waitMask, SIGTERM);
    // The 3.5-character silence at 19200 baud is 1.8 ms; the default 50 us timer slack
    // would be a noticeable part of it.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);

    if (!openPort(rt, setup.engine.line, true))
        return 1;

    Transmitter transmitter(setup.image, seed, !rt.options.staticImage);
    transmitter.setWarnings(rt.options.warnings);
    const Micros startedAt = monotonicUs();
    Engine engine(setup.engine, setup.image, std::move(transmitter), rt.log.get(), startedAt);
    // --second-slave: another transmitter on the same line. It hears every byte the first one
    // hears and answers only its own address, so at most one of the two answers a request.
    // It keeps out of the log, which would otherwise show each frame twice.
    std::optional<Engine> second;
    if (setup.secondEngine) {
        Transmitter t2(setup.secondImage, setup.secondEngine->seed, !rt.options.staticImage);
        t2.setWarnings(rt.options.warnings);
        second.emplace(*setup.secondEngine, setup.secondImage, std::move(t2), nullptr, startedAt);
    }

    std::fprintf(stderr, "vek-transmitter-sim: slave %u at %s on %s%s%s, model %u, seed %llu%s\n",
                 static_cast<unsigned>(engine.address()), describe(engine.line()).c_str(), rt.port.path.c_str(),
                 rt.options.link ? " (link " : "", rt.options.link ? (*rt.options.link + ")").c_str() : "",
                 static_cast<unsigned>(setup.image.get(reg::kModel)), static_cast<unsigned long long>(seed),
                 rt.options.pacing ? "" : ", no pacing");
    if (second)
        std::fprintf(stderr, "vek-transmitter-sim: and slave %u on the same line\n",
                     static_cast<unsigned>(second->address()));
    if (rt.log) {
        rt.log->event(startedAt, "start",
                      {{"device", jsonString(rt.port.path)},
                       {"slave", std::to_string(engine.address())},
                       {"baud", std::to_string(engine.line().baud)},
                       {"parity", jsonString(parityName(engine.line().parity))},
                       {"seed", std::to_string(seed)}});
    }

    std::optional<Micros> lostAt;  // the device went away on its own; look for it again
    bool goneForGood = false;
    Micros drainFrom = -1;  // since when a planned hang-up waits for the last reply to be read
    std::vector<std::uint8_t> buf(4096);
    int status = 0;
    while (!gStop) {
        Micros now = monotonicUs();
        engine.tick(now);
        if (second)
            second->tick(now);
        if (rt.port.open()) {
            if (!writeAll(rt, engine.takeOutput(now)) || (second && !writeAll(rt, second->takeOutput(now)))) {
                std::fprintf(stderr, "vek-transmitter-sim: write: %s\n", std::strerror(errno));
                shutPort(rt);
                lostAt = now;
            }
        }
        if (engine.takeLineChanged() && rt.port.open() && !rt.port.pty) {
            // The echo must be out of the UART before the device changes speed under it.
            tcdrain(rt.port.fd);
            std::string error;
            if (!configureDevice(rt.port.fd, engine.line(), error))
                std::fprintf(stderr, "vek-transmitter-sim: %s\n", error.c_str());
        }
        if (rt.port.open() && !engine.portOpen()) {
            // Closing a pseudo-terminal throws away what the master has not read yet, and the
            // kernel hands our last write on to the far end a little later; on a real line the
            // reply would already be out. Give the master a moment to read it.
            if (rt.port.pty) {
                if (drainFrom < 0)
                    drainFrom = now;
                const bool graceOver = now - drainFrom >= kDrainGrace;
                if (now - drainFrom < kDrainLimit && (!graceOver || pendingAtPeer(rt.port) > 0)) {
                    timespec nap{0, 2'000'000};
                    nanosleep(&nap, nullptr);
                    continue;
                }
            }
            drainFrom = -1;
            std::fprintf(stderr, "vek-transmitter-sim: hanging up %s after %llu requests\n", rt.port.path.c_str(),
                         static_cast<unsigned long long>(engine.requests()));
            shutPort(rt);
        } else if (!rt.port.open() && engine.portOpen() && !goneForGood && (!lostAt || now - *lostAt >= kReopenEvery)) {
            if (openPort(rt, engine.line(), true)) {
                lostAt.reset();
                if (rt.log)
                    rt.log->event(now, "port", {{"device", jsonString(rt.port.path)}});
            } else {
                lostAt = now;
            }
        }

        now = monotonicUs();
        Micros wake = engine.nextWake(now);
        if (second)
            wake = std::min(wake, second->nextWake(now));
        if (lostAt && engine.portOpen() && !goneForGood)
            wake = std::min(wake, *lostAt + kReopenEvery);
        const Micros wait = std::max<Micros>(0, wake - now);
        timespec ts{static_cast<time_t>(wait / 1'000'000), static_cast<long>((wait % 1'000'000) * 1000)};
        pollfd pfd{rt.port.fd, POLLIN, 0};
        const int ready = ppoll(&pfd, rt.port.open() ? 1 : 0, &ts, &waitMask);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            std::fprintf(stderr, "vek-transmitter-sim: ppoll: %s\n", std::strerror(errno));
            status = 1;
            break;
        }
        if (ready == 0 || !rt.port.open())
            continue;
        if (pfd.revents & POLLIN) {
            const ssize_t n = ::read(rt.port.fd, buf.data(), buf.size());
            if (n > 0) {
                const Micros at = monotonicUs();
                const auto baud = peerBaud(rt.port);
                engine.receive(std::span(buf.data(), static_cast<std::size_t>(n)), at, baud);
                if (second)
                    second->receive(std::span(buf.data(), static_cast<std::size_t>(n)), at, baud);
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
        }
        if (pfd.revents & (POLLHUP | POLLERR | POLLNVAL | POLLIN)) {
            // A USB adapter comes back at its old path. The far end of someone else's
            // pseudo-terminal never does: a new one that takes the same number belongs to another
            // program, and opening it would put us on a stranger's line.
            if (rt.port.ptyDevice) {
                std::fprintf(stderr, "vek-transmitter-sim: %s went away; a pseudo-terminal does not come back\n",
                             rt.port.path.c_str());
                goneForGood = true;
            } else {
                std::fprintf(stderr, "vek-transmitter-sim: %s went away; looking for it every %lld ms\n",
                             rt.port.path.c_str(), static_cast<long long>(kReopenEvery / 1000));
            }
            shutPort(rt);
            lostAt = monotonicUs();
        }
    }
    shutPort(rt);
    if (rt.log)
        rt.log->event(monotonicUs(), "stop", {});
    return status;
}
