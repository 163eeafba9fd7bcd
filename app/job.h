// Work that waits for the link without holding up the window: C++ coroutines.
//
// A Job is started by a callback and runs at once up to its first wait; the callback then
// returns, and the rest runs when the link engine resumes it (on the window's thread, from its
// own timers). A Job owns itself and ends by itself. Async<T> is a step of a Job that waits
// too: awaited, it starts, and hands its value back when it has ended.
#pragma once
#include <coroutine>
#include <exception>
#include <functional>
#include <optional>
#include <utility>

namespace vek {

class Job {
public:
    struct promise_type {
        Job get_return_object() { return {}; }
        std::suspend_never initial_suspend() noexcept { return {}; }
        std::suspend_never final_suspend() noexcept { return {}; }
        void return_void() {}
        // Nothing a job does may end the program: what escapes it is reported as an internal
        // error, as for a callback.
        void unhandled_exception() noexcept
        {
            if (Job::onError)
                Job::onError(std::current_exception());
        }
    };
    // Where an exception that escapes a job is reported.
    static inline std::function<void(std::exception_ptr)> onError;
};

template <typename T>
class Async {
public:
    struct promise_type {
        std::optional<T> value;
        std::exception_ptr error;
        std::coroutine_handle<> continuation;

        Async get_return_object() { return Async(std::coroutine_handle<promise_type>::from_promise(*this)); }
        std::suspend_always initial_suspend() noexcept { return {}; }
        struct FinalAwaiter {
            bool await_ready() noexcept { return false; }
            std::coroutine_handle<> await_suspend(std::coroutine_handle<promise_type> h) noexcept
            {
                auto next = h.promise().continuation;
                return next ? next : std::noop_coroutine();
            }
            void await_resume() noexcept {}
        };
        FinalAwaiter final_suspend() noexcept { return {}; }
        template <typename U>
        void return_value(U&& v)
        {
            value.emplace(std::forward<U>(v));
        }
        void unhandled_exception() noexcept { error = std::current_exception(); }
    };

    Async(Async&& o) noexcept : h_(std::exchange(o.h_, {})) {}
    Async(const Async&) = delete;
    Async& operator=(const Async&) = delete;
    Async& operator=(Async&&) = delete;
    ~Async()
    {
        if (h_)
            h_.destroy();
    }

    bool await_ready() const noexcept { return false; }
    std::coroutine_handle<> await_suspend(std::coroutine_handle<> awaiting) noexcept
    {
        h_.promise().continuation = awaiting;
        return h_;
    }
    T await_resume()
    {
        if (h_.promise().error)
            std::rethrow_exception(h_.promise().error);
        return std::move(*h_.promise().value);
    }

private:
    explicit Async(std::coroutine_handle<promise_type> h) : h_(h) {}
    std::coroutine_handle<promise_type> h_;
};

}  // namespace vek
