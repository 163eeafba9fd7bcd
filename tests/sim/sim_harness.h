// Runs the simulator as its own process and talks to it over its pseudo-terminal, as a
// master on the other end of the line would. Shared by the line tests and the benchmark.
#pragma once
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vek::simtest {

using Bytes = std::vector<std::uint8_t>;

std::int64_t monotonicUs();

class SimProcess {
public:
    SimProcess() = default;
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Starts the program with `args` and waits for the device path on its first line.
    // False (with the reason in error()) if it does not come.
    bool start(const std::vector<std::string>& args, int timeoutMs = 10000);
    // Runs the program to its end without waiting for a device, e.g. for --help or bad options.
    // Returns the exit status; stdout and stderr are kept.
    int runToEnd(const std::vector<std::string>& args, int timeoutMs = 10000);

    const std::string& device() const { return device_; }
    // The next line on stdout (the device printed after a port returns).
    std::optional<std::string> nextLine(int timeoutMs);
    // Sends `sig` and waits for the exit; returns the exit status, or -1 if killed or stuck.
    int stop(int sig, int timeoutMs = 5000);
    bool running() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    std::string stdoutText() const { return out_; }
    std::string stderrText() const;
    const std::string& error() const { return error_; }

private:
    bool spawn(const std::vector<std::string>& args);
    int wait(int timeoutMs);
    void pump(int timeoutMs);

    pid_t pid_ = -1;
    int outFd_ = -1;
    std::string out_;
    std::size_t outTaken_ = 0;
    std::string errPath_;
    std::string device_;
    std::string error_;
};

// The master's end: a raw serial line at the given speed.
class LineMaster {
public:
    ~LineMaster();
    bool open(const std::string& path, unsigned baud = 9600);
    // Takes over an already open descriptor, e.g. the master side of a pseudo-terminal that
    // the simulator serves as its --device.
    void adopt(int fd);
    void close();
    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }

    void send(const Bytes& bytes);
    // Collects bytes until `expected` have come or `timeoutMs` passed; then waits `settleMs`
    // more for bytes beyond those expected, so that an overlong reply shows.
    Bytes receive(std::size_t expected, int timeoutMs = 2000, int settleMs = 40);
    Bytes transact(const Bytes& request, std::size_t expected, int timeoutMs = 2000)
    {
        send(request);
        return receive(expected, timeoutMs);
    }
    // True if nothing at all arrives within `ms`.
    bool silentFor(int ms);
    // Reads until the line has been quiet for `quietMs`.
    Bytes drain(int quietMs = 30);

private:
    int fd_ = -1;
};

// A fresh directory for links, images and logs; removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    void write(const std::string& name, const std::string& text) const;

private:
    std::string path_;
};

std::string readFile(const std::string& path);
// CPU time (user + system) a process has used so far, in clock ticks.
long cpuTicks(pid_t pid);
bool commandExists(const std::string& name);

}  // namespace vek::simtest
