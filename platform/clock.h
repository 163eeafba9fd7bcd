// Time for the program: a monotonic clock for waits and timers, and the wall clock for
// the log's date and time columns. Tests use VirtualClock, so nothing in them sleeps.
#pragma once
#include <ctime>
#include <functional>
#include <map>
#include <utility>

namespace vek::platform {

// The local calendar time of `t` (localtime_r, localtime_s on Windows).
std::tm LocalTimeOf(std::time_t t);

class Clock {
public:
    virtual ~Clock() = default;
    // Seconds on a monotonic scale; only differences mean anything.
    virtual double now() const = 0;
    // Blocks the calling callback for `seconds` (<= 0 returns at once). Implementations
    // that drive a window system keep windows repainting meanwhile but must not start
    // another callback or timer tick: the panel model's dispatch guarantees that.
    virtual void Delay(double seconds) = 0;
    // Local calendar time for DateStr and TimeStr.
    virtual std::time_t wallTime() const = 0;
};

// The real clock of a program without windows: steady_clock and a plain sleep.
class SleepClock : public Clock {
public:
    double now() const override;
    void Delay(double seconds) override;
    std::time_t wallTime() const override;
};

// Fake time for tests. Delay and advanceTo move time forward and run, in time order, the
// actions scheduled up to the new time, each seeing now() at its own due time. This is how
// a scripted peer "answers during" the master's wait.
class VirtualClock : public Clock {
public:
    explicit VirtualClock(std::time_t wallAtZero = 1458000000);
    double now() const override { return now_; }
    void Delay(double seconds) override;
    std::time_t wallTime() const override;

    void advanceTo(double t);
    void schedule(double at, std::function<void()> action);
    // When the earliest scheduled action is due; infinity when none is.
    double nextDue() const;
    // Called whenever time is about to move (and before each action runs): lets an in-memory
    // port hand the bytes written so far to its peer as one frame.
    void setBeforeAdvance(std::function<void()> hook) { beforeAdvance_ = std::move(hook); }
    double totalDelayed() const { return delayed_; }

private:
    double now_ = 0.0;
    double delayed_ = 0.0;
    std::time_t wallAtZero_;
    std::multimap<double, std::function<void()>> actions_;
    std::function<void()> beforeAdvance_;
};

}  // namespace vek::platform
