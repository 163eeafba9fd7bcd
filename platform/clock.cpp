#include "clock.h"

#include <chrono>
#include <thread>

namespace vek::platform {

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
    if (beforeAdvance_)
        beforeAdvance_();
    delayed_ += seconds > 0 ? seconds : 0;
    advanceTo(now_ + (seconds > 0 ? seconds : 0));
}

void VirtualClock::advanceTo(double t)
{
    // Actions may schedule further actions, so take them one at a time.
    while (!actions_.empty() && actions_.begin()->first <= t) {
        auto node = actions_.extract(actions_.begin());
        if (node.key() > now_)
            now_ = node.key();
        node.mapped()();
    }
    if (t > now_)
        now_ = t;
}

void VirtualClock::schedule(double at, std::function<void()> action) { actions_.emplace(at, std::move(action)); }

std::time_t VirtualClock::wallTime() const { return wallAtZero_ + static_cast<std::time_t>(now_); }

}  // namespace vek::platform
