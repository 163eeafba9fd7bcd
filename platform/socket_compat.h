// The socket calls the network link makes (tcp_rs232.cpp), on POSIX sockets and on Windows
// sockets alike, so that the link is one source for both systems. Each is the POSIX call it
// is named after; on Windows the socket is non-blocking from its making, so no call here
// blocks on either system. No system header leaks out of here.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace vek::platform::net {

// A socket: a POSIX descriptor, or a Windows SOCKET; kNoSocket for none.
using Socket = std::intptr_t;
inline constexpr Socket kNoSocket = -1;

// poll() events, as the system's.
extern const short kPollIn;
extern const short kPollOut;

// Makes the system's sockets ready for this process (Windows sockets must be started once
// before any call, the name lookup's included); true when they are.
bool Startup();

// A stream socket that never blocks and is not inherited by programs started later, or
// kNoSocket (LastError() says why).
Socket OpenNonBlocking(int family, int type, int protocol);
void Close(Socket s);
// Starts connecting: true when connected or under way.
bool Connect(Socket s, const void* address, std::size_t length);
// The outcome of a connection that was under way: 0 or the error.
int ConnectOutcome(Socket s);
// Waits up to `ms` for `events` on `s`: >0 with `revents` set, 0 at the time-out, <0 on error.
int PollOne(Socket s, short events, int ms, short& revents);
// Bytes waiting to be read now, or -1.
int Waiting(Socket s);
// What waits, without waiting: >0 bytes, 0 the peer closed, <0 nothing or an error (LastError).
long Receive(Socket s, void* buffer, std::size_t length, bool peek = false);
// Sends without waiting (and without a signal for a closed peer): bytes sent, or <0.
long Send(Socket s, const void* buffer, std::size_t length);
// Frames go out as written; keep-alive probes after `idle` s, every `interval` s, `count`
// of them; unacknowledged data ends the connection after `userTimeoutMs`.
void Tune(Socket s, int idle, int interval, int count, unsigned userTimeoutMs);

// The error of the latest failed call of this thread, and what it says.
int LastError();
std::string ErrorText(int err);
bool InProgress(int err);   // a connection under way
bool WouldBlock(int err);   // nothing to read, or no room to write, now
bool Interrupted(int err);  // a signal came: try again

}  // namespace vek::platform::net
