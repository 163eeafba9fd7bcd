// The link engine: the one way to the serial line. Work that needs the line (a poll, a
// user's write, a set-up tool's reads and writes, a scan's probe, reopening the port) takes a
// lease on it, waiting its turn in the order it asked, and gives it back when done; the
// holder's exchanges are sent at once and their replies awaited on timers, never by sleeping
// or by running a nested event loop, so the windows answer throughout. The engine has no
// thread of its own: it runs on the window's thread, driven by a LinkTimer (Qt timers in the
// program, the virtual clock in the tests).
#pragma once
#include <coroutine>
#include <deque>
#include <functional>
#include <map>
#include <optional>

#include "clock.h"
#include "mb_rtu_master.h"

namespace vek {

// Calls `fn` once `seconds` have passed (at once for 0 or less), from the program's own loop:
// never from inside After.
class LinkTimer {
public:
    virtual ~LinkTimer() = default;
    virtual void After(double seconds, std::function<void()> fn) = 0;
};

// A LinkTimer that waits on the clock itself (its Delay) and then runs what is due, earliest
// first: for the tests, whose virtual clock moves at once, and for programs without windows.
// A call made while it runs is run by the outermost call, after the one running.
class ClockTimer : public LinkTimer {
public:
    explicit ClockTimer(platform::Clock& clock) : clock_(clock) {}
    void After(double seconds, std::function<void()> fn) override;

private:
    platform::Clock& clock_;
    std::multimap<double, std::function<void()>> due_;
    bool running_ = false;
};

class LinkEngine {
public:
    explicit LinkEngine(LinkTimer& timer) : timer_(&timer) {}
    LinkEngine(const LinkEngine&) = delete;
    LinkEngine& operator=(const LinkEngine&) = delete;
    void setTimer(LinkTimer& timer) { timer_ = &timer; }
    LinkTimer& timer() { return *timer_; }

    // The line, held until destroyed. Empty (false) when the engine refused it: the program is
    // closing, and nothing more may be sent.
    class Lease {
    public:
        Lease() = default;
        explicit Lease(LinkEngine* e) : e_(e) {}
        Lease(Lease&& o) noexcept : e_(o.e_) { o.e_ = nullptr; }
        Lease& operator=(Lease&&) = delete;
        Lease(const Lease&) = delete;
        ~Lease() { Release(); }
        explicit operator bool() const { return e_ != nullptr; }
        void Release();

    private:
        LinkEngine* e_ = nullptr;
    };

    struct LeaseAwaiter {
        LinkEngine& e;
        bool granted = false;
        bool await_ready();
        void await_suspend(std::coroutine_handle<> h);
        Lease await_resume() { return Lease(granted ? &e : nullptr); }
    };
    // co_await Acquire() gives the lease once every earlier request for it has had its turn.
    LeaseAwaiter Acquire() { return {*this}; }

    struct ExchangeAwaiter {
        LinkEngine& e;
        std::function<PendingReply()> start;
        std::optional<PendingReply> pending;
        RtuResult result;
        std::coroutine_handle<> waiting;
        bool await_ready() { return false; }
        void await_suspend(std::coroutine_handle<> h);
        RtuResult await_resume() { return std::move(result); }
        void look();
    };
    // co_await Exchange(start), holding the lease: `start` sends the request; the reply is
    // looked for on the timer as the request's wait says, and its verdict is the result.
    ExchangeAwaiter Exchange(std::function<PendingReply()> start) { return {*this, std::move(start), {}, {}, {}}; }

    struct SleepAwaiter {
        LinkEngine& e;
        double seconds;
        bool await_ready() { return false; }
        void await_suspend(std::coroutine_handle<> h);
        void await_resume() {}
    };
    // co_await Sleep(s): lets `s` seconds pass, the windows answering meanwhile.
    SleepAwaiter Sleep(double seconds) { return {*this, seconds}; }

    bool busy() const { return held_; }
    std::size_t waiting() const { return waiters_.size(); }

    // A long job (restore, backup, compare) stops between two exchanges once asked to.
    void RequestCancel() { cancel_ = true; }
    void ClearCancel() { cancel_ = false; }
    bool cancelRequested() const { return cancel_; }

    // The program is closing: the lease is refused from now on (to those waiting too), a long
    // job is asked to stop, and `whenIdle` runs once the exchange under way, if any, has ended
    // and its holder has let go.
    void Shutdown(std::function<void()> whenIdle);
    bool closing() const { return closing_; }

private:
    struct Waiter {
        std::coroutine_handle<> h;
        bool* granted;
    };
    void release();
    void resumeLater(std::coroutine_handle<> h);

    LinkTimer* timer_;
    bool held_ = false;
    bool cancel_ = false;
    bool closing_ = false;
    std::deque<Waiter> waiters_;
    std::function<void()> whenIdle_;
};

}  // namespace vek
