// Runs part of a test in a forked child: for what could hang (a pipe, a device) under a
// watchdog, or what must not touch the test process (resource limits, signals).
#pragma once
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <functional>

namespace vek::test {

// Runs `body` in a forked child and reports how it ended: its exit code, or 128 plus the
// signal that ended it. The child's own failed checks are printed by the child; it exits 1
// when any failed, or with `body`'s code.
inline int inChild(const std::function<int()>& body)
{
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        int code = body();
        if (code == 0 && ::testing::Test::HasFailure())
            code = 1;
        std::fflush(nullptr);
        ::_exit(code);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// inChild with a watchdog: a child still running after `seconds` ends with SIGALRM, which
// the status says (128 + SIGALRM) instead of the test hanging.
inline int inChildWithin(unsigned seconds, const std::function<void()>& body)
{
    return inChild([&]() -> int {
        ::alarm(seconds);
        body();
        return 0;
    });
}

}  // namespace vek::test
