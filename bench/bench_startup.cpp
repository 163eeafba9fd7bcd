// Start-up time: from launching the program to its main window shown.
//
// The parent launches this same executable N times (default 20) as a child that does what
// vek-modbus-rtu's main() does (QApplication, the Program, start()) and then runs the event
// loop until the main window is exposed. The child writes the CLOCK_MONOTONIC times of its
// milestones to a pipe; the parent took the time just before the launch, so "launch" covers
// exec, dynamic linking and Qt's own start as well. Qt runs offscreen unless
// QT_QPA_PLATFORM says otherwise. A plain harness, not Google Benchmark: every sample is a
// new process. When the plain Qt master (vek_peer_qt_master) is built beside it, each launch
// of the program is followed by one of that master, which shows its 78-row table and reports
// the same milestones, and the medians are compared: the program against the simplest Qt
// program with a window, on the same machine at the same moment.
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

// Launches `path` with `args` (and `env`), waits for the three times it writes to the pipe
// whose write end it is told of, and returns them as seconds after the launch. False when
// the child did not show its window; what it said is then on stderr.
bool launchOnce(const std::string& path, std::vector<std::string> args, bool fdInEnv, const std::string& log,
                Milestones& out)
{
    int fds[2];
    if (pipe(fds) != 0)
        return false;
    const std::string fdText = std::to_string(fds[1]);
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        env.emplace_back(*e);
    if (fdInEnv)
        env.push_back("VEK_STARTUP_FD=" + fdText);
    else
        args.push_back(fdText);
    std::vector<char*> argv{const_cast<char*>(path.c_str())}, envp;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    // Qt's offscreen plugin warns about every window it cannot raise; keep that out of the table.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const double launched = monotonicNow();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (spawned != 0) {
        close(fds[0]);
        return false;
    }
    Milestones m;
    const ssize_t got = read(fds[0], &m, sizeof m);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (got != static_cast<ssize_t>(sizeof m) || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s did not show its window (status %d); it said:\n", path.c_str(), status);
        std::system(("cat " + log + " >&2").c_str());
        return false;
    }
    out = {m.mainEntered - launched, m.started - launched, m.shown - launched};
    return true;
}

struct Samples {
    std::vector<double> toShown, toMain, startCall, toExpose;
    void add(const Milestones& m)
    {
        toShown.push_back(m.shown);
        toMain.push_back(m.mainEntered);
        startCall.push_back(m.started - m.mainEntered);
        toExpose.push_back(m.shown - m.started);
    }
};

void row(const char* what, const std::vector<double>& v)
{
    std::printf("%-44s %9.1f %9.1f %9.1f %9.1f\n", what, 1e3 * percentile(v, 0.0), 1e3 * percentile(v, 0.5),
                1e3 * percentile(v, 0.9), 1e3 * percentile(v, 1.0));
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
    // The plain Qt master, built beside this benchmark when Qt SerialBus is there: launched
    // in turn with the program, so both meet the same machine.
    const std::string peer = (std::filesystem::path(self).parent_path() / "vek_peer_qt_master").string();
    const bool withPeer = access(peer.c_str(), X_OK) == 0;
    const std::string log = (dir / "child.log").string();

    Samples program, plain;
    for (int r = 0; r < runs; ++r) {
        Milestones m;
        if (!launchOnce(self, {"--child"}, false, log, m))
            return 1;
        program.add(m);
        if (withPeer) {
            if (!launchOnce(peer, {}, true, log, m))
                return 1;
            plain.add(m);
        }
    }
    std::filesystem::current_path("/");
    std::filesystem::remove_all(dir);

    std::printf("start-up of vek-modbus-rtu (QT_QPA_PLATFORM=%s), %d launches, milliseconds\n",
                std::getenv("QT_QPA_PLATFORM"), runs);
    std::printf("%-44s %9s %9s %9s %9s\n", "", "min", "median", "p90", "max");
    row("launch -> main window shown", program.toShown);
    row("  launch -> main() entered (exec, linking)", program.toMain);
    row("  main() -> start() returned (Qt, panels)", program.startCall);
    row("  start() returned -> window exposed", program.toExpose);
    if (!withPeer) {
        std::printf("(no plain Qt master beside this benchmark: build vek_peer_qt_master to compare)\n");
        return 0;
    }
    std::printf("the plain Qt master (78-row table), launched in turn with it\n");
    row("launch -> window shown", plain.toShown);
    row("  launch -> main() entered (exec, linking)", plain.toMain);
    row("  main() -> window built", plain.startCall);
    row("  window built -> window exposed", plain.toExpose);
    std::printf("%-44s %9.2f\n", "median ratio program / plain Qt master",
                percentile(program.toShown, 0.5) / percentile(plain.toShown, 0.5));
    return 0;
}
