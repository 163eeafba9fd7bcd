// Running the program's link jobs to their end inside a test.
#pragma once
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <utility>

#include "job.h"

namespace vek::test {

// The value of `task`, which must end without waiting: the link engine in its default mode
// (waiting on the clock at once) ends every exchange before the call that started it returns.
template <typename T>
T RunToEnd(Async<T> task)
{
    std::optional<T> out;
    auto run = [](Async<T> t, std::optional<T>& o) -> Job { o.emplace(co_await t); };
    run(std::move(task), out);
    if (!out) {
        std::fprintf(stderr, "RunToEnd: the task still waits for the link\n");
        std::abort();
    }
    return std::move(*out);
}

}  // namespace vek::test
