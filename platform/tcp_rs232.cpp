#include "tcp_rs232.h"

// The name lookup's calls are the same on both systems; every other socket call goes
// through socket_compat.h.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <sys/socket.h>
#endif

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "socket_compat.h"

namespace vek::platform {

namespace {

int remainingMs(std::chrono::steady_clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

std::chrono::steady_clock::time_point after(double seconds)
{
    return std::chrono::steady_clock::now() +
           std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(seconds));
}

const char* kindText(GatewayKind k) { return k == GatewayKind::ModbusTcp ? "Modbus TCP" : "RTU over TCP"; }

}  // namespace

std::string EndpointText(const TcpEndpoint& e)
{
    const bool v6 = e.host.find(':') != std::string::npos;
    return (v6 ? "[" + e.host + "]" : e.host) + ":" + std::to_string(e.port);
}

int SystemResolve(const std::string& host, int port, std::vector<ResolvedAddress>& found, std::string& error)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG | AI_NUMERICSERV;
    addrinfo* list = nullptr;
    const int rc = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list);
    if (rc != 0 || !list) {
        error = rc != 0 ? ::gai_strerror(rc) : "no address";
        return rc != 0 ? rc : EAI_NONAME;
    }
    for (const addrinfo* a = list; a; a = a->ai_next) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(a->ai_addr);
        found.push_back({a->ai_family, a->ai_socktype, a->ai_protocol, {bytes, bytes + a->ai_addrlen}});
    }
    ::freeaddrinfo(list);
    return 0;
}

// A name lookup and its answer, shared between the link and the thread that asks.
struct TcpRs232::Lookup {
    std::string host;
    int port = 0;
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    int rc = 0;
    std::vector<ResolvedAddress> found;
    std::string error;
};

TcpRs232::TcpRs232(TcpEndpoint endpoint, Resolver resolve) : endpoint_(std::move(endpoint)), resolve_(std::move(resolve))
{
    // Windows' sockets, the name lookup's included, work only once started.
    net::Startup();
}

TcpRs232::~TcpRs232()
{
    if (fd_ != net::kNoSocket)
        net::Close(fd_);
}

int TcpRs232::ok(int result)
{
    lastError_ = 0;
    lastDetail_.clear();
    return result;
}

int TcpRs232::fail(int code, const std::string& what, const std::string& reason)
{
    lastError_ = code;
    lastDetail_ = what + ": " + EndpointText(endpoint_) + " (" + reason + ")";
    return code;
}

void TcpRs232::drop()
{
    if (fd_ != net::kNoSocket)
        net::Close(fd_);
    fd_ = net::kNoSocket;
    state_ = State::Closed;
    peerClosed_ = false;
    ahead_.clear();
    receiver_.Reset();
}

int TcpRs232::lose(std::string reason)
{
    drop();
    fail(RS_ERR_DEVICE_GONE, "Connection lost", reason);
    // Every call says so until the link is opened again, as a device unplugged stays gone.
    lostDetail_ = lastDetail_;
    return lastError_;
}

int TcpRs232::notOpen()
{
    if (!lostDetail_.empty()) {
        lastError_ = RS_ERR_DEVICE_GONE;
        lastDetail_ = lostDetail_;
        return lastError_;
    }
    return fail(RS_ERR_NOT_OPEN, "Not connected", state_ == State::Closed ? "no connection" : "still connecting");
}

int TcpRs232::startConnect()
{
    lostDetail_.clear();
    if (endpoint_.host.empty() || endpoint_.port < 1 || endpoint_.port > 65535)
        return fail(RS_ERR_BAD_SETTINGS, "Cannot connect", "no host or TCP port set");
    connectStarted_ = std::chrono::steady_clock::now();
    // A numeric address needs no name server: it is used at once.
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo* list = nullptr;
    if (::getaddrinfo(endpoint_.host.c_str(), std::to_string(endpoint_.port).c_str(), &hints, &list) == 0 && list) {
        std::vector<ResolvedAddress> found;
        for (const addrinfo* a = list; a; a = a->ai_next) {
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(a->ai_addr);
            found.push_back({a->ai_family, a->ai_socktype, a->ai_protocol, {bytes, bytes + a->ai_addrlen}});
        }
        ::freeaddrinfo(list);
        return connectTo(found);
    }
    // A name is looked up on a thread of its own. One that an earlier opening started and
    // that has not answered yet is waited for, not asked again: a name server that does not
    // answer never gathers lookups.
    if (!lookup_) {
        lookup_ = std::make_shared<Lookup>();
        lookup_->host = endpoint_.host;
        lookup_->port = endpoint_.port;
        std::thread([l = lookup_, resolve = resolve_] {
            std::vector<ResolvedAddress> found;
            std::string error;
            const int rc = resolve(l->host, l->port, found, error);
            const std::lock_guard lock(l->m);
            l->rc = rc;
            l->found = std::move(found);
            l->error = std::move(error);
            l->done = true;
            l->cv.notify_all();
        }).detach();
    }
    state_ = State::Resolving;
    return 0;
}

int TcpRs232::connectTo(const std::vector<ResolvedAddress>& found)
{
    int err = 0;
    for (const ResolvedAddress& a : found) {
        const net::Socket fd = net::OpenNonBlocking(a.family, a.socktype, a.protocol);
        if (fd == net::kNoSocket) {
            err = net::LastError();
            continue;
        }
        if (net::Connect(fd, a.address.data(), a.address.size())) {
            fd_ = fd;
            break;
        }
        err = net::LastError();
        net::Close(fd);
    }
    if (fd_ == net::kNoSocket) {
        state_ = State::Closed;
        return fail(RS_ERR_CANNOT_OPEN, "Cannot connect", found.empty() ? "no address" : net::ErrorText(err));
    }
    state_ = State::Connecting;
    return 0;
}

int TcpRs232::settleLookup(double seconds)
{
    const double spent = std::chrono::duration<double>(std::chrono::steady_clock::now() - connectStarted_).count();
    const double wait = std::max(0.0, std::min(seconds, kConnectLimit - spent));
    std::unique_lock lock(lookup_->m);
    if (!lookup_->cv.wait_for(lock, std::chrono::duration<double>(wait), [&] { return lookup_->done; })) {
        if (spent + wait < kConnectLimit)
            return 1;
        // The lookup goes on; the next opening takes its answer.
        lock.unlock();
        state_ = State::Closed;
        return fail(RS_ERR_CANNOT_OPEN, "Cannot connect", "the name was not resolved within 3 s");
    }
    const int rc = lookup_->rc;
    const std::vector<ResolvedAddress> found = std::move(lookup_->found);
    const std::string error = lookup_->error;
    lock.unlock();
    // An answer is taken once: the next connection asks again.
    lookup_.reset();
    if (rc != 0) {
        state_ = State::Closed;
        return fail(RS_ERR_CANNOT_OPEN, "Cannot connect", error.empty() ? "the name was not found" : error);
    }
    return connectTo(found);
}

int TcpRs232::settleConnect(double seconds)
{
    if (state_ == State::Resolving) {
        const auto asked = std::chrono::steady_clock::now();
        if (const int rc = settleLookup(seconds); rc != 0)
            return rc;
        seconds = std::max(0.0, seconds - std::chrono::duration<double>(std::chrono::steady_clock::now() - asked).count());
    }
    const double spent = std::chrono::duration<double>(std::chrono::steady_clock::now() - connectStarted_).count();
    const double wait = std::max(0.0, std::min(seconds, kConnectLimit - spent));
    short revents = 0;
    const int r = net::PollOne(fd_, net::kPollOut, static_cast<int>(wait * 1000), revents);
    if (r == 0) {
        if (spent + wait < kConnectLimit)
            return 1;
        net::Close(fd_);
        fd_ = net::kNoSocket;
        state_ = State::Closed;
        return fail(RS_ERR_CANNOT_OPEN, "Cannot connect", "no answer within 3 s");
    }
    const int err = r < 0 ? net::LastError() : net::ConnectOutcome(fd_);
    if (err != 0) {
        net::Close(fd_);
        fd_ = net::kNoSocket;
        state_ = State::Closed;
        return fail(RS_ERR_CANNOT_OPEN, "Cannot connect", net::ErrorText(err));
    }
    // Frames go out as they are written; a gateway gone from the network is found by the
    // keep-alive probes (after 10 s idle, every 5 s, 3 of them) within half a minute even
    // when no poll is waiting for it. A gateway that stops acknowledging what is sent (gone
    // from the network while polled) ends the connection after 20 s instead of the system's
    // quarter of an hour.
    net::Tune(fd_, 10, 5, 3, 20000);
    state_ = State::Up;
    peerClosed_ = false;
    answered_ = true;
    unanswered_ = 0;
    ahead_.clear();
    receiver_.Reset();
    return 0;
}

int TcpRs232::ensureUp()
{
    if (state_ == State::Up)
        return 0;
    if (state_ == State::Connecting || state_ == State::Resolving) {
        const int rc = settleConnect(0);
        if (rc <= 0)
            return rc;
    }
    return notOpen();
}

std::vector<std::uint8_t>& TcpRs232::queue()
{
    return endpoint_.kind == GatewayKind::ModbusTcp ? receiver_.ready() : ahead_;
}

int TcpRs232::pump(int wanted)
{
    // A gateway that closed right after its reply: the reply is read first, then the loss shows.
    if (peerClosed_)
        return queue().empty() ? lose("closed by the gateway") : 0;
    // Bounded, so a peer that never stops sending cannot hold the caller.
    for (int round = 0; round < 64; ++round) {
        std::uint8_t chunk[mbap::kMaxFrame];
        int want = 0;
        if (endpoint_.kind == GatewayKind::ModbusTcp)
            want = receiver_.Want();
        else
            want = std::min(static_cast<int>(sizeof chunk), wanted - static_cast<int>(ahead_.size()));
        if (want <= 0)
            return 0;
        const long n = net::Receive(fd_, chunk, static_cast<std::size_t>(want));
        if (n == 0) {
            if (queue().empty())
                return lose("closed by the gateway");
            peerClosed_ = true;
            return 0;
        }
        if (n < 0) {
            const int err = net::LastError();
            if (net::Interrupted(err))
                continue;
            if (net::WouldBlock(err))
                return 0;
            return lose(net::ErrorText(err));
        }
        answered_ = true;
        if (endpoint_.kind == GatewayKind::ModbusTcp) {
            if (receiver_.Push(chunk, static_cast<int>(n)) == mbap::Receiver::Event::Refused)
                return lose(receiver_.refusal());
        } else {
            ahead_.insert(ahead_.end(), chunk, chunk + n);
        }
    }
    return 0;
}

void TcpRs232::discardInput()
{
    // Whatever arrived late for an earlier request must never be taken as the next reply.
    // Modbus TCP follows the frames (a late reply is dropped by its transaction id anyway).
    if (endpoint_.kind == GatewayKind::ModbusTcp) {
        pump(0);
        receiver_.ready().clear();
        return;
    }
    for (int round = 0; round < 64; ++round) {
        std::uint8_t chunk[512];
        const long n = net::Receive(fd_, chunk, sizeof chunk);
        if (n <= 0)
            break;
    }
    ahead_.clear();
}

int TcpRs232::OpenComConfig(int port, const std::string& /*deviceName*/, long /*baud*/, int /*parity*/,
                            int /*dataBits*/, int /*stopBits*/, int /*inputQueueSize*/, int /*outputQueueSize*/)
{
    if (port < 1 || port > 99)
        return fail(RS_ERR_INVALID_PORT, "Invalid port number", "COM" + std::to_string(port));
    if (state_ == State::Up && peerClosed_)
        lose("closed by the gateway");
    if (state_ == State::Up && unanswered_ + (answered_ ? 0 : 1) >= kSilentRequestLimit)
        lose("no answer to " + std::to_string(kSilentRequestLimit) + " requests in a row");
    if (state_ == State::Up) {
        // A connection the gateway closed meanwhile is found here and made again.
        if (net::Waiting(fd_) == 0) {
            std::uint8_t b = 0;
            const long n = net::Receive(fd_, &b, 1, true);
            const int err = n < 0 ? net::LastError() : 0;
            if (n == 0 || (n < 0 && !net::WouldBlock(err) && !net::Interrupted(err)))
                lose("closed by the gateway");
        }
        if (state_ == State::Up) {
            discardInput();
            if (state_ == State::Up)
                return ok();
        }
    }
    if (state_ == State::Closed) {
        if (const int rc = startConnect(); rc < 0)
            return rc;
    }
    const int rc = settleConnect(kConnectSlice);
    if (rc < 0)
        return rc;
    if (rc > 0)
        return fail(RS_ERR_CONNECTING, "Cannot connect",
                    state_ == State::Resolving ? "looking the name up, still trying" : "no answer yet, still trying");
    return ok();
}

int TcpRs232::CloseCom(int /*port*/)
{
    lostDetail_.clear();
    if (state_ == State::Closed)
        return fail(RS_ERR_NOT_OPEN, "Not connected", "no connection");
    drop();
    return ok();
}

int TcpRs232::ClaimCom(int port)
{
    if (state_ == State::Up)
        return ok();
    return OpenComConfig(port, "", 9600, RS_PARITY_NONE, 8, 1, 512, -1);
}

int TcpRs232::ReleaseCom(int /*port*/)
{
    if (state_ != State::Up)
        return notOpen();
    return ok();
}

int TcpRs232::ComWrtByte(int port, int byte)
{
    const std::uint8_t b = static_cast<std::uint8_t>(byte);
    const int rc = ComWrt(port, &b, 1);
    return rc == 1 ? b : rc;
}

int TcpRs232::ComWrt(int /*port*/, const std::uint8_t* buffer, int count)
{
    wireRequest_.clear();
    if (const int rc = ensureUp(); rc < 0)
        return rc;
    std::vector<std::uint8_t> wire;
    if (endpoint_.kind == GatewayKind::ModbusTcp) {
        wire = mbap::FromRtu(++transaction_, buffer, count);
        if (wire.empty())
            return fail(RS_ERR_SYSTEM, "Frame not sent", "no request a Modbus TCP frame can carry");
        receiver_.Expect(transaction_);
        wireRequest_ = wire;
    } else {
        wire.assign(buffer, buffer + count);
    }
    const auto deadline = after(timeout_);
    std::size_t sent = 0;
    while (sent < wire.size()) {
        const long n = net::Send(fd_, wire.data() + sent, wire.size() - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        const int err = net::LastError();
        if (net::Interrupted(err))
            continue;
        if (!net::WouldBlock(err))
            return lose(net::ErrorText(err));
        short revents = 0;
        const int ms = remainingMs(deadline);
        if (ms <= 0 || net::PollOne(fd_, net::kPollOut, ms, revents) <= 0)
            return fail(RS_ERR_TIMEOUT, Rs232ErrorText(RS_ERR_TIMEOUT), EndpointText(endpoint_) + " would not take the frame");
    }
    // Silence counts against the connection only from the slave it keeps asking: a scan of a
    // gateway's addresses meets silence at most of them, on a connection that is fine.
    if (count < 1 || buffer[0] != lastSlave_)
        answered_ = true;
    lastSlave_ = count > 0 ? buffer[0] : -1;
    unanswered_ = answered_ ? 0 : unanswered_ + 1;
    answered_ = false;
    // The master counts the frame it wrote, whatever its form on the wire.
    return ok(count);
}

int TcpRs232::ComRd(int /*port*/, std::uint8_t* buffer, int count)
{
    if (const int rc = ensureUp(); rc < 0)
        return rc;
    const auto deadline = after(timeout_);
    while (true) {
        if (const int rc = pump(count); rc < 0)
            return rc;
        auto& q = queue();
        if (static_cast<int>(q.size()) >= count)
            break;
        short revents = 0;
        const int ms = remainingMs(deadline);
        // Nothing more comes from a gateway that closed: no waiting on its end of file.
        if (peerClosed_ || ms <= 0 || net::PollOne(fd_, net::kPollIn, ms, revents) <= 0) {
            const int got = std::min(count, static_cast<int>(q.size()));
            std::copy_n(q.begin(), got, buffer);
            q.erase(q.begin(), q.begin() + got);
            fail(RS_ERR_TIMEOUT, Rs232ErrorText(RS_ERR_TIMEOUT),
                 std::to_string(got) + " of " + std::to_string(count) + " bytes");
            return got;
        }
    }
    auto& q = queue();
    std::copy_n(q.begin(), count, buffer);
    q.erase(q.begin(), q.begin() + count);
    return ok(count);
}

int TcpRs232::ComPeek(int /*port*/, std::uint8_t* buffer, int count)
{
    if (const int rc = ensureUp(); rc < 0)
        return rc;
    if (const int rc = pump(count); rc < 0)
        return rc;
    const auto& q = queue();
    const int n = std::max(0, std::min(count, static_cast<int>(q.size())));
    std::copy_n(q.begin(), n, buffer);
    return ok(n);
}

int TcpRs232::GetInQLen(int /*port*/)
{
    if (const int rc = ensureUp(); rc < 0)
        return rc;
    if (endpoint_.kind == GatewayKind::ModbusTcp) {
        if (const int rc = pump(0); rc < 0)
            return rc;
        return ok(static_cast<int>(receiver_.ready().size()));
    }
    const int waiting = net::Waiting(fd_);
    if (waiting < 0)
        return lose(net::ErrorText(net::LastError()));
    if (peerClosed_ && ahead_.empty())
        return lose("closed by the gateway");
    if (waiting == 0 && ahead_.empty()) {
        // Nothing waits: a peer that closed or reset the connection says so now.
        std::uint8_t b = 0;
        const long n = net::Receive(fd_, &b, 1, true);
        if (n == 0)
            return lose("closed by the gateway");
        const int err = n < 0 ? net::LastError() : 0;
        if (n < 0 && !net::WouldBlock(err) && !net::Interrupted(err))
            return lose(net::ErrorText(err));
    }
    if (waiting > 0)
        answered_ = true;
    return ok(waiting + static_cast<int>(ahead_.size()));
}

int TcpRs232::SetComTime(int /*port*/, double seconds)
{
    if (state_ != State::Up)
        return notOpen();
    timeout_ = seconds > 0 ? seconds : 0;
    return ok();
}

std::string TcpRs232::GetRS232ErrorString(int code)
{
    if (code != 0 && code == lastError_ && !lastDetail_.empty())
        return lastDetail_;
    return Rs232ErrorText(code);
}

WireFrames TcpRs232::LastWireFrames() const
{
    if (endpoint_.kind != GatewayKind::ModbusTcp || wireRequest_.empty())
        return {};
    return {wireRequest_, receiver_.taken()};
}

std::string TcpRs232::DevicePath(int /*port*/) const
{
    if (state_ != State::Up)
        return {};
    return EndpointText(endpoint_) + " (" + kindText(endpoint_.kind) + ")";
}

}  // namespace vek::platform
