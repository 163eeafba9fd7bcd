// vek-transmitter-sim: the I/O loop around the engine. One thread, asleep in ppoll() until a
// byte arrives, a silence ends, a reply byte is due or a signal asks us to stop.
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
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
#include "tcp_frames.h"
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

// --tcp: a listening socket on the address and port asked for (port 0: one the system picks);
// -1 with `error` set when it cannot be had.
int listenOn(const std::string& host, int port, std::string& error)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const int rc = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (rc != 0 || !found) {
        error = host + ": " + (rc != 0 ? gai_strerror(rc) : "no address");
        return -1;
    }
    int fd = ::socket(found->ai_family, found->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, found->ai_protocol);
    const int on = 1;
    if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::bind(fd, found->ai_addr, found->ai_addrlen) != 0 || ::listen(fd, 4) != 0) {
        error = host + " port " + std::to_string(port) + ": " + std::strerror(errno);
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    freeaddrinfo(found);
    return fd;
}

int boundPort(int fd)
{
    sockaddr_storage a{};
    socklen_t len = sizeof a;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        return -1;
    return a.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&a)->sin6_port)
                                   : ntohs(reinterpret_cast<sockaddr_in*>(&a)->sin_port);
}

// The I/O loop of a network connection: one master at a time (a new connection replaces the
// one before, as a master that reconnects after losing track of its connection expects).
// The engine answers each request whole, with its tag: the transaction id in Modbus TCP.
int runTcp(const Options& o, Engine& engine, std::optional<Engine>& second, EventLog* log, const sigset_t& waitMask)
{
    const std::string host = o.tcpHost.value_or("127.0.0.1");
    const TcpKind kind = o.tcpKind.value_or(TcpKind::Rtu);
    std::string error;
    int listener = listenOn(host, *o.tcpPort, error);
    if (listener < 0) {
        std::fprintf(stderr, "vek-transmitter-sim: %s\n", error.c_str());
        return 1;
    }
    const int port = boundPort(listener);
    const bool v6 = host.find(':') != std::string::npos;
    std::printf("%s%s%s:%d\n", v6 ? "[" : "", host.c_str(), v6 ? "]" : "", port);
    std::fflush(stdout);
    std::fprintf(stderr, "vek-transmitter-sim: slave %u on TCP %s port %d (%s)\n",
                 static_cast<unsigned>(engine.address()), host.c_str(), port,
                 kind == TcpKind::Mbap ? "Modbus TCP" : "RTU over TCP");

    int client = -1;
    MbapSplitter splitter;
    std::uint64_t repliesOnConnection = 0;
    auto closeClient = [&](const char* why) {
        if (client < 0)
            return;
        ::close(client);
        client = -1;
        std::fprintf(stderr, "vek-transmitter-sim: connection closed (%s)\n", why);
        if (log)
            log->event(monotonicUs(), "disconnect", {{"reason", jsonString(why)}});
    };
    auto hand = [&](const std::uint8_t* bytes, std::size_t n, Micros at, std::uint32_t tag, bool whole) {
        for (Engine* e : {&engine, second ? &*second : nullptr}) {
            if (!e)
                continue;
            e->setTag(tag);
            if (whole) {
                // A Modbus TCP request is whole as it comes: the frame ends here, not after a silence.
                const Micros silence = silenceUs(e->line());
                e->receive(std::span(bytes, n), at - silence);
                e->tick(at);
            } else {
                e->receive(std::span(bytes, n), at);
            }
        }
    };
    std::vector<std::uint8_t> buf(4096);
    int status = 0;
    while (!gStop) {
        Micros now = monotonicUs();
        engine.tick(now);
        if (second)
            second->tick(now);
        std::vector<Engine::TaggedReply> replies = engine.takeReplies(now);
        if (second)
            for (auto& r : second->takeReplies(now))
                replies.push_back(std::move(r));
        for (const auto& r : replies) {
            if (client < 0)
                continue;  // the master went away meanwhile: the reply is lost, as on a line
            const std::vector<std::uint8_t> wire =
                kind == TcpKind::Mbap ? mbapReply(static_cast<std::uint16_t>(r.tag), r.bytes) : r.bytes;
            if (::send(client, wire.data(), wire.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(wire.size())) {
                closeClient("send failed");
                continue;
            }
            if (o.closeAfter && ++repliesOnConnection >= *o.closeAfter)
                closeClient("--close-after");
        }
        if (!engine.portOpen() && listener >= 0) {
            closeClient("--hangup-after");
            ::close(listener);
            listener = -1;
            std::fprintf(stderr, "vek-transmitter-sim: not listening after %llu requests\n",
                         static_cast<unsigned long long>(engine.requests()));
        } else if (engine.portOpen() && listener < 0) {
            listener = listenOn(host, port, error);
            if (listener < 0) {
                std::fprintf(stderr, "vek-transmitter-sim: %s\n", error.c_str());
                status = 1;
                break;
            }
            std::fprintf(stderr, "vek-transmitter-sim: listening again on port %d\n", port);
        }

        now = monotonicUs();
        Micros wake = engine.nextWake(now);
        if (second)
            wake = std::min(wake, second->nextWake(now));
        const Micros wait = std::max<Micros>(0, wake - now);
        timespec ts{static_cast<time_t>(wait / 1'000'000), static_cast<long>((wait % 1'000'000) * 1000)};
        pollfd pfd[2] = {{listener, POLLIN, 0}, {client, POLLIN, 0}};
        const int ready = ppoll(pfd, 2, &ts, &waitMask);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            std::fprintf(stderr, "vek-transmitter-sim: ppoll: %s\n", std::strerror(errno));
            status = 1;
            break;
        }
        if (listener >= 0 && (pfd[0].revents & POLLIN)) {
            const int fd = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd >= 0) {
                closeClient("a new connection replaces it");
                client = fd;
                splitter = MbapSplitter{};
                repliesOnConnection = 0;
                std::fprintf(stderr, "vek-transmitter-sim: connection accepted\n");
                if (log)
                    log->event(monotonicUs(), "connect", {});
            }
        }
        if (client >= 0 && (pfd[1].revents & (POLLIN | POLLHUP | POLLERR))) {
            const ssize_t n = ::recv(client, buf.data(), buf.size(), 0);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
                closeClient(n == 0 ? "closed by the master" : std::strerror(errno));
                continue;
            }
            if (n < 0)
                continue;
            const Micros at = monotonicUs();
            if (kind == TcpKind::Rtu) {
                hand(buf.data(), static_cast<std::size_t>(n), at, 0, false);
                continue;
            }
            splitter.feed(buf.data(), static_cast<std::size_t>(n));
            std::string bad;
            while (auto req = splitter.next(bad)) {
                if (req->protocol != 0) {
                    if (log)
                        log->frame(at, "rx", req->rtu, "ignored: protocol " + std::to_string(req->protocol));
                    continue;
                }
                hand(req->rtu.data(), req->rtu.size(), at, req->transaction, true);
            }
            if (!bad.empty())
                closeClient(bad.c_str());
        }
    }
    closeClient("stopping");
    if (listener >= 0)
        ::close(listener);
    return status;
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

    const bool tcp = rt.options.tcpPort.has_value();
    if (!tcp && !openPort(rt, setup.engine.line, true))
        return 1;

    Transmitter transmitter(setup.image, seed, !rt.options.staticImage);
    transmitter.setWarnings(rt.options.warnings);
    const Micros startedAt = monotonicUs();
    // Over TCP a reply leaves as one piece: there is no line to pace it on.
    EngineConfig engineConfig = setup.engine;
    if (tcp)
        engineConfig.pacing = false;
    Engine engine(engineConfig, setup.image, std::move(transmitter), rt.log.get(), startedAt);
    // --second-slave: another transmitter on the same line. It hears every byte the first one
    // hears and answers only its own address, so at most one of the two answers a request.
    // It keeps out of the log, which would otherwise show each frame twice.
    std::optional<Engine> second;
    if (setup.secondEngine) {
        Transmitter t2(setup.secondImage, setup.secondEngine->seed, !rt.options.staticImage);
        t2.setWarnings(rt.options.warnings);
        EngineConfig secondConfig = *setup.secondEngine;
        if (tcp)
            secondConfig.pacing = false;
        second.emplace(secondConfig, setup.secondImage, std::move(t2), nullptr, startedAt);
    }
    if (tcp) {
        if (rt.log)
            rt.log->event(startedAt, "start",
                          {{"tcp", std::to_string(*rt.options.tcpPort)},
                           {"slave", std::to_string(engine.address())},
                           {"seed", std::to_string(seed)}});
        const int rc = runTcp(rt.options, engine, second, rt.log.get(), waitMask);
        if (rt.log)
            rt.log->event(monotonicUs(), "stop", {});
        return rc;
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
