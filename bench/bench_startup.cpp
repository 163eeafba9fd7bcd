// Start-up time: from launching the program to its main window shown.
//
// The parent launches this same executable N times (default 20) as a child that does what
// vek-modbus-rtu's main() does (QApplication, the Program, start()) and then runs the event
// loop until the main window is exposed. The child writes the CLOCK_MONOTONIC times of its
// milestones to a pipe; the parent took the time just before the launch, so "launch" covers
// exec, dynamic linking and Qt's own start as well. Qt runs offscreen unless
// QT_QPA_PLATFORM says otherwise. A plain harness, not Google Benchmark: every sample is a
// new process.
//
//   vek_bench_startup [--runs N]      (other arguments are ignored, so scripts/bench may pass its own)
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "program.h"

extern char** environ;

namespace {

double monotonicNow()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct Milestones {
    double mainEntered = 0, started = 0, shown = 0;
};

int child(int fd, int argc, char** argv)
{
    Milestones m;
    m.mainEntered = monotonicNow();
    QApplication qapp(argc, argv);
    vek::Program program(vek::Program::defaultResourceDir());
    if (program.start() < 0)
        return 3;
    m.started = monotonicNow();
    QWidget* mainWindow = program.view().window(program.app().st.panelMain);
    if (!mainWindow)
        return 4;
    QElapsedTimer patience;
    patience.start();
    while (!(mainWindow->windowHandle() && mainWindow->windowHandle()->isExposed())) {
        if (patience.elapsed() > 20000)
            return 5;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    }
    m.shown = monotonicNow();
    return write(fd, &m, sizeof m) == static_cast<ssize_t>(sizeof m) ? 0 : 6;
}

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    const std::size_t i = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 3 && !std::strcmp(argv[1], "--child"))
        return child(std::atoi(argv[2]), argc, argv);

    int runs = 20;
    for (int i = 1; i + 1 < argc; ++i)
        if (!std::strcmp(argv[i], "--runs"))
            runs = std::max(1, std::atoi(argv[i + 1]));
    setenv("QT_QPA_PLATFORM", "offscreen", 0);

    // A working directory of its own: the program looks for RS_Settings and the logo there.
    const auto dir = std::filesystem::temp_directory_path() / ("vek-bench-startup-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    std::filesystem::current_path(dir);
    const std::string self = std::filesystem::canonical("/proc/self/exe").string();

    std::vector<double> toShown, toMain, startCall, toExpose;
    for (int r = 0; r < runs; ++r) {
        int fds[2];
        if (pipe(fds) != 0)
            return 1;
        const std::string fdText = std::to_string(fds[1]);
        char* args[] = {const_cast<char*>(self.c_str()), const_cast<char*>("--child"),
                        const_cast<char*>(fdText.c_str()), nullptr};
        const double launched = monotonicNow();
        // Qt's offscreen plugin warns about every window it cannot raise; keep that out of the table.
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, "child.log", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        pid_t pid = 0;
        const int spawned = posix_spawn(&pid, self.c_str(), &actions, nullptr, args, environ);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0)
            return 1;
        close(fds[1]);
        Milestones m;
        const ssize_t got = read(fds[0], &m, sizeof m);
        close(fds[0]);
        int status = 0;
        waitpid(pid, &status, 0);
        if (got != static_cast<ssize_t>(sizeof m) || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "run %d: the program did not show its main window (status %d); it said:\n", r, status);
            std::system(("cat " + (dir / "child.log").string() + " >&2").c_str());
            return 1;
        }
        toShown.push_back(m.shown - launched);
        toMain.push_back(m.mainEntered - launched);
        startCall.push_back(m.started - m.mainEntered);
        toExpose.push_back(m.shown - m.started);
    }
    std::filesystem::current_path("/");
    std::filesystem::remove_all(dir);

    auto row = [](const char* what, const std::vector<double>& v) {
        std::printf("%-44s %9.1f %9.1f %9.1f %9.1f\n", what, 1e3 * percentile(v, 0.0), 1e3 * percentile(v, 0.5),
                    1e3 * percentile(v, 0.9), 1e3 * percentile(v, 1.0));
    };
    std::printf("start-up of vek-modbus-rtu (QT_QPA_PLATFORM=%s), %d launches, milliseconds\n",
                std::getenv("QT_QPA_PLATFORM"), runs);
    std::printf("%-44s %9s %9s %9s %9s\n", "", "min", "median", "p90", "max");
    row("launch -> main window shown", toShown);
    row("  launch -> main() entered (exec, linking)", toMain);
    row("  main() -> start() returned (Qt, panels)", startCall);
    row("  start() returned -> window exposed", toExpose);
    return 0;
}
