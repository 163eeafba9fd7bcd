#include "clock.h"

#include <limits>

#include <chrono>
#include <thread>

namespace vek::platform {

std::tm LocalTimeOf(std::time_t t)
{
    std::tm tm{};
#ifdef _WIN32
    ::localtime_s(&tm, &t);
#else
    ::localtime_r(&t, &tm);
#endif
    return tm;
}

double SleepClock::now() const
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void SleepClock::Delay(double seconds)
{
    if (seconds > 0)
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

std::time_t SleepClock::wallTime() const { return std::time(nullptr); }

VirtualClock::VirtualClock(std::time_t wallAtZero) : wallAtZero_(wallAtZero) {}

void VirtualClock::Delay(double seconds)
{
    delayed_ += seconds > 0 ? seconds : 0;
    advanceTo(now_ + (seconds > 0 ? seconds : 0));
}

void VirtualClock::advanceTo(double t)
{
    // Actions may schedule further actions, so take them one at a time. Before time moves, the
    // bytes written so far go on the wire.
    for (;;) {
        if (beforeAdvance_)
            beforeAdvance_();
        if (actions_.empty() || actions_.begin()->first > t)
            break;
        auto node = actions_.extract(actions_.begin());
        if (node.key() > now_)
            now_ = node.key();
        node.mapped()();
    }
    if (t > now_)
        now_ = t;
}

double VirtualClock::nextDue() const
{
    return actions_.empty() ? std::numeric_limits<double>::infinity() : actions_.begin()->first;
}

void VirtualClock::schedule(double at, std::function<void()> action) { actions_.emplace(at, std::move(action)); }

std::time_t VirtualClock::wallTime() const { return wallAtZero_ + static_cast<std::time_t>(now_); }

}  // namespace vek::platform
