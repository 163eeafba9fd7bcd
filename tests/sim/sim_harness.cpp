#include "sim_harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

namespace vek::simtest {

std::int64_t monotonicUs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000 + ts.tv_nsec / 1000;
}

namespace {

std::string tempName(const char* stem)
{
    std::string pattern = std::filesystem::temp_directory_path().string() + "/" + stem + "XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    const int fd = mkstemp(buf.data());
    if (fd >= 0)
        ::close(fd);
    return buf.data();
}

}  // namespace

SimProcess::~SimProcess()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (outFd_ >= 0)
        ::close(outFd_);
    if (!errPath_.empty())
        std::remove(errPath_.c_str());
}

bool SimProcess::spawn(const std::vector<std::string>& args)
{
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        error_ = "pipe";
        return false;
    }
    errPath_ = tempName("vek-sim-stderr-");
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, pipeFds[1], 1);
    posix_spawn_file_actions_addopen(&fa, 2, errPath_.c_str(), O_WRONLY | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    std::vector<std::string> argv{VEK_SIM_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    for (auto& a : argv)
        cargv.push_back(a.data());
    cargv.push_back(nullptr);
    const int rc = posix_spawn(&pid_, VEK_SIM_BINARY, &fa, nullptr, cargv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    ::close(pipeFds[1]);
    outFd_ = pipeFds[0];
    if (rc != 0) {
        pid_ = -1;
        error_ = std::string("posix_spawn: ") + std::strerror(rc);
        return false;
    }
    return true;
}

void SimProcess::pump(int timeoutMs)
{
    if (outFd_ < 0)
        return;
    pollfd p{outFd_, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0)
        return;
    char buf[512];
    const ssize_t n = ::read(outFd_, buf, sizeof buf);
    if (n > 0)
        out_.append(buf, static_cast<std::size_t>(n));
    else if (n == 0) {
        ::close(outFd_);
        outFd_ = -1;
    }
}

std::optional<std::string> SimProcess::nextLine(int timeoutMs)
{
    const auto deadline = monotonicUs() + static_cast<std::int64_t>(timeoutMs) * 1000;
    while (true) {
        const auto nl = out_.find('\n', outTaken_);
        if (nl != std::string::npos) {
            std::string line = out_.substr(outTaken_, nl - outTaken_);
            outTaken_ = nl + 1;
            return line;
        }
        const auto left = deadline - monotonicUs();
        if (left <= 0 || outFd_ < 0)
            return std::nullopt;
        pump(static_cast<int>(left / 1000) + 1);
    }
}

bool SimProcess::start(const std::vector<std::string>& args, int timeoutMs)
{
    if (!spawn(args))
        return false;
    const auto line = nextLine(timeoutMs);
    if (!line) {
        error_ = "no device line; stderr: " + stderrText();
        return false;
    }
    device_ = *line;
    return true;
}

int SimProcess::wait(int timeoutMs)
{
    const auto deadline = monotonicUs() + static_cast<std::int64_t>(timeoutMs) * 1000;
    while (pid_ > 0) {
        int status = 0;
        const pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            pid_ = -1;
            while (outFd_ >= 0)
                pump(100);
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        if (monotonicUs() > deadline)
            return -1;
        pump(10);
    }
    return -1;
}

int SimProcess::runToEnd(const std::vector<std::string>& args, int timeoutMs)
{
    if (!spawn(args))
        return -1;
    return wait(timeoutMs);
}

int SimProcess::stop(int sig, int timeoutMs)
{
    if (pid_ <= 0)
        return -1;
    ::kill(pid_, sig);
    return wait(timeoutMs);
}

std::string SimProcess::stderrText() const { return errPath_.empty() ? "" : readFile(errPath_); }

LineMaster::~LineMaster() { close(); }

bool LineMaster::open(const std::string& path, unsigned baud)
{
    close();
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0)
        return false;
    termios t{};
    tcgetattr(fd_, &t);
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    const speed_t s = baud == 19200 ? B19200 : baud == 38400 ? B38400 : B9600;
    cfsetispeed(&t, s);
    cfsetospeed(&t, s);
    tcsetattr(fd_, TCSANOW, &t);
    tcflush(fd_, TCIOFLUSH);
    return true;
}

void LineMaster::adopt(int fd)
{
    close();
    fd_ = fd;
}

void LineMaster::close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

void LineMaster::send(const Bytes& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else if (n < 0 && errno != EAGAIN && errno != EINTR)
            return;
    }
}

Bytes LineMaster::receive(std::size_t expected, int timeoutMs, int settleMs)
{
    Bytes out;
    const auto deadline = monotonicUs() + static_cast<std::int64_t>(timeoutMs) * 1000;
    std::int64_t settleUntil = -1;
    while (true) {
        const auto now = monotonicUs();
        if (out.size() >= expected && settleUntil < 0)
            settleUntil = now + static_cast<std::int64_t>(settleMs) * 1000;
        const auto until = settleUntil >= 0 ? settleUntil : deadline;
        if (now >= until)
            break;
        pollfd p{fd_, POLLIN, 0};
        const int r = ::poll(&p, 1, static_cast<int>((until - now) / 1000) + 1);
        if (r <= 0)
            continue;
        if (p.revents & POLLIN) {
            std::uint8_t buf[512];
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n > 0)
                out.insert(out.end(), buf, buf + n);
            else if (n < 0 && errno != EAGAIN)
                break;
        } else {
            break;  // hung up
        }
    }
    return out;
}

bool LineMaster::silentFor(int ms) { return receive(1, ms, 0).empty(); }

Bytes LineMaster::drain(int quietMs)
{
    Bytes all;
    while (true) {
        Bytes got = receive(1, quietMs, 0);
        if (got.empty())
            return all;
        all.insert(all.end(), got.begin(), got.end());
    }
}

TempDir::TempDir()
{
    std::string pattern = std::filesystem::temp_directory_path().string() + "/vek-sim-test-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()))
        path_ = buf.data();
}

TempDir::~TempDir()
{
    std::error_code ec;
    if (!path_.empty())
        std::filesystem::remove_all(path_, ec);
}

void TempDir::write(const std::string& name, const std::string& text) const { std::ofstream(file(name)) << text; }

std::string readFile(const std::string& path)
{
    std::ifstream in(path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

long cpuTicks(pid_t pid)
{
    const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    const auto paren = stat.rfind(')');
    if (paren == std::string::npos)
        return -1;
    std::istringstream fields(stat.substr(paren + 2));
    std::string field;
    long utime = 0, stime = 0;
    // After the command name: state is field 3, utime field 14, stime field 15.
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14)
            utime = std::stol(field);
        if (i == 15)
            stime = std::stol(field);
    }
    return utime + stime;
}

bool commandExists(const std::string& name)
{
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        if (!dir.empty() && ::access((dir + "/" + name).c_str(), X_OK) == 0)
            return true;
    }
    return false;
}

}  // namespace vek::simtest
