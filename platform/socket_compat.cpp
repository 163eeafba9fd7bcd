#include "socket_compat.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>

#include "win32_rs232.h"  // Win32ErrorText
#else
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace vek::platform::net {

const short kPollIn = POLLIN;
const short kPollOut = POLLOUT;

#ifdef _WIN32

namespace {

// Windows' TCP options past what these headers name (Windows 10 1709 and later); an older
// system refuses them and keeps its own keep-alive times.
#ifndef TCP_KEEPALIVE
#define TCP_KEEPALIVE 3
#endif
#ifndef TCP_MAXRT
#define TCP_MAXRT 5
#endif
#ifndef TCP_KEEPCNT
#define TCP_KEEPCNT 16
#endif
#ifndef TCP_KEEPINTVL
#define TCP_KEEPINTVL 17
#endif

SOCKET raw(Socket s) { return static_cast<SOCKET>(s); }

}  // namespace

bool Startup()
{
    static const bool started = [] {
        WSADATA data{};
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

Socket OpenNonBlocking(int family, int type, int protocol)
{
    Startup();
    const SOCKET s = ::WSASocketW(family, type, protocol, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET)
        return kNoSocket;
    u_long on = 1;
    if (::ioctlsocket(s, FIONBIO, &on) != 0) {
        const int err = ::WSAGetLastError();
        ::closesocket(s);
        ::WSASetLastError(err);
        return kNoSocket;
    }
    return static_cast<Socket>(s);
}

void Close(Socket s) { ::closesocket(raw(s)); }

bool Connect(Socket s, const void* address, std::size_t length)
{
    if (::connect(raw(s), static_cast<const sockaddr*>(address), static_cast<int>(length)) == 0)
        return true;
    return InProgress(LastError());
}

int ConnectOutcome(Socket s)
{
    int err = 0;
    int len = sizeof err;
    if (::getsockopt(raw(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) != 0)
        return LastError();
    return err;
}

int PollOne(Socket s, short events, int ms, short& revents)
{
    WSAPOLLFD pfd{raw(s), events, 0};
    const int r = ::WSAPoll(&pfd, 1, ms);
    revents = pfd.revents;
    return r;
}

int Waiting(Socket s)
{
    u_long n = 0;
    return ::ioctlsocket(raw(s), FIONREAD, &n) == 0 ? static_cast<int>(n) : -1;
}

long Receive(Socket s, void* buffer, std::size_t length, bool peek)
{
    return ::recv(raw(s), static_cast<char*>(buffer), static_cast<int>(length), peek ? MSG_PEEK : 0);
}

long Send(Socket s, const void* buffer, std::size_t length)
{
    return ::send(raw(s), static_cast<const char*>(buffer), static_cast<int>(length), 0);
}

void Tune(Socket s, int idle, int interval, int count, unsigned userTimeoutMs)
{
    const DWORD on = 1;
    const auto set = [s](int level, int name, DWORD value) {
        ::setsockopt(raw(s), level, name, reinterpret_cast<const char*>(&value), sizeof value);
    };
    set(IPPROTO_TCP, TCP_NODELAY, on);
    set(SOL_SOCKET, SO_KEEPALIVE, on);
    set(IPPROTO_TCP, TCP_KEEPALIVE, static_cast<DWORD>(idle));
    set(IPPROTO_TCP, TCP_KEEPINTVL, static_cast<DWORD>(interval));
    set(IPPROTO_TCP, TCP_KEEPCNT, static_cast<DWORD>(count));
    // Windows counts the retransmission limit in whole seconds.
    set(IPPROTO_TCP, TCP_MAXRT, static_cast<DWORD>((userTimeoutMs + 999) / 1000));
}

int LastError() { return ::WSAGetLastError(); }
std::string ErrorText(int err) { return Win32ErrorText(static_cast<DWORD>(err)); }
bool InProgress(int err) { return err == WSAEWOULDBLOCK || err == WSAEINPROGRESS; }
bool WouldBlock(int err) { return err == WSAEWOULDBLOCK; }
bool Interrupted(int err) { return err == WSAEINTR; }

#else

bool Startup() { return true; }

Socket OpenNonBlocking(int family, int type, int protocol)
{
    const int fd = ::socket(family, type | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
    return fd < 0 ? kNoSocket : fd;
}

void Close(Socket s) { ::close(static_cast<int>(s)); }

bool Connect(Socket s, const void* address, std::size_t length)
{
    return ::connect(static_cast<int>(s), static_cast<const sockaddr*>(address), static_cast<socklen_t>(length)) == 0 ||
           errno == EINPROGRESS;
}

int ConnectOutcome(Socket s)
{
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(static_cast<int>(s), SOL_SOCKET, SO_ERROR, &err, &len) != 0)
        return errno;
    return err;
}

int PollOne(Socket s, short events, int ms, short& revents)
{
    pollfd pfd{static_cast<int>(s), events, 0};
    const int r = ::poll(&pfd, 1, ms);
    revents = pfd.revents;
    return r;
}

int Waiting(Socket s)
{
    int n = 0;
    return ::ioctl(static_cast<int>(s), FIONREAD, &n) == 0 ? n : -1;
}

long Receive(Socket s, void* buffer, std::size_t length, bool peek)
{
    return ::recv(static_cast<int>(s), buffer, length, MSG_DONTWAIT | (peek ? MSG_PEEK : 0));
}

long Send(Socket s, const void* buffer, std::size_t length)
{
    return ::send(static_cast<int>(s), buffer, length, MSG_DONTWAIT | MSG_NOSIGNAL);
}

void Tune(Socket s, int idle, int interval, int count, unsigned userTimeoutMs)
{
    const int fd = static_cast<int>(s);
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
    ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeoutMs, sizeof userTimeoutMs);
}

int LastError() { return errno; }
std::string ErrorText(int err) { return std::strerror(err); }
bool InProgress(int err) { return err == EINPROGRESS; }
bool WouldBlock(int err) { return err == EAGAIN || err == EWOULDBLOCK; }
bool Interrupted(int err) { return err == EINTR; }

#endif

}  // namespace vek::platform::net
