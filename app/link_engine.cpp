#include "link_engine.h"

#include <algorithm>
#include <utility>

namespace vek {

void ClockTimer::After(double seconds, std::function<void()> fn)
{
    due_.emplace(clock_.now() + std::max(0.0, seconds), std::move(fn));
    if (running_)
        return;  // the outermost call runs it, in its turn
    struct Running {
        bool& flag;
        explicit Running(bool& f) : flag(f) { flag = true; }
        ~Running() { flag = false; }
    } running{running_};
    while (!due_.empty()) {
        const auto first = due_.begin();
        const double at = first->first;
        std::function<void()> next = std::move(first->second);
        due_.erase(first);
        if (at > clock_.now())
            clock_.Delay(at - clock_.now());
        next();
    }
}

void LinkEngine::Lease::Release()
{
    if (LinkEngine* e = std::exchange(e_, nullptr))
        e->release();
}

bool LinkEngine::LeaseAwaiter::await_ready()
{
    if (e.closing_)
        return true;  // refused
    if (e.held_ || !e.waiters_.empty())
        return false;
    e.held_ = true;
    granted = true;
    return true;
}

void LinkEngine::LeaseAwaiter::await_suspend(std::coroutine_handle<> h) { e.waiters_.push_back({h, &granted}); }

void LinkEngine::resumeLater(std::coroutine_handle<> h)
{
    timer_->After(0, [h] { h.resume(); });
}

void LinkEngine::release()
{
    held_ = false;
    if (!closing_ && !waiters_.empty()) {
        const Waiter next = waiters_.front();
        waiters_.pop_front();
        held_ = true;
        *next.granted = true;
        resumeLater(next.h);
        return;
    }
    if (closing_ && whenIdle_)
        timer_->After(0, std::exchange(whenIdle_, nullptr));
}

void LinkEngine::Shutdown(std::function<void()> whenIdle)
{
    if (closing_)
        return;
    closing_ = true;
    cancel_ = true;
    // Those still waiting for the line are told no: they end without sending anything.
    while (!waiters_.empty()) {
        const Waiter w = waiters_.front();
        waiters_.pop_front();
        *w.granted = false;
        resumeLater(w.h);
    }
    if (held_)
        whenIdle_ = std::move(whenIdle);
    else
        timer_->After(0, std::move(whenIdle));
}

void LinkEngine::ExchangeAwaiter::await_suspend(std::coroutine_handle<> h)
{
    waiting = h;
    pending.emplace(start());
    look();
}

void LinkEngine::ExchangeAwaiter::look()
{
    const double next = pending->Look();
    if (next >= 0) {
        e.timer_->After(next, [this] { look(); });
        return;
    }
    result = pending->Verdict();
    pending.reset();
    waiting.resume();  // nothing of this awaiter may be touched after this
}

void LinkEngine::SleepAwaiter::await_suspend(std::coroutine_handle<> h)
{
    e.timer_->After(seconds, [h] { h.resume(); });
}

}  // namespace vek
