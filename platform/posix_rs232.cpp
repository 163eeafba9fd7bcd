#include "posix_rs232.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace vek::platform {

std::string ResolveComPort(int port)
{
    if (port < 1 || port > 99)
        return {};
    const std::string var = "VEK_COM" + std::to_string(port);
    if (const char* v = std::getenv(var.c_str()); v && *v)
        return v;
    std::error_code ec;
    const std::string usb = "/dev/ttyUSB" + std::to_string(port - 1);
    if (std::filesystem::exists(usb, ec))
        return usb;
    return "/dev/ttyS" + std::to_string(port - 1);
}

bool DeviceExists(const std::string& path)
{
    std::error_code ec;
    return !path.empty() && std::filesystem::exists(path, ec);
}

bool ComPortPresent(int port)
{
    const std::string path = ResolveComPort(port);
    std::error_code ec;
    if (path.empty() || !std::filesystem::exists(path, ec))
        return false;
    if (path.rfind("/dev/ttyS", 0) != 0)
        return true;
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == EACCES || errno == EBUSY;  // there, but not ours to open now: the scan says why
    serial_struct info{};
    const bool uart = ::ioctl(fd, TIOCGSERIAL, &info) != 0 || info.type != PORT_UNKNOWN;
    ::close(fd);
    return uart;
}

namespace {

speed_t speedOf(long baud)
{
    switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B0;
    }
}

// Unix 98 pseudo-terminal slaves have the character-device majors 136 to 143.
bool isPseudoTerminal(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    const unsigned maj = major(st.st_rdev);
    return maj >= 136 && maj <= 143;
}

bool deviceGoneErrno(int err) { return err == EIO || err == ENXIO || err == ENODEV || err == EBADF; }

int remainingMs(std::chrono::steady_clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

std::optional<termios> LineTermios(termios base, long baud, int parity, int dataBits, int stopBits)
{
    const speed_t speed = speedOf(baud);
    if (speed == B0 || parity < RS_PARITY_NONE || parity > RS_PARITY_EVEN || dataBits < 5 || dataBits > 8 ||
        stopBits < 1 || stopBits > 2)
        return std::nullopt;
    termios tio = base;
    ::cfmakeraw(&tio);
    // Nothing an earlier setting (or whoever used the device before) left may survive.
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag |= dataBits == 5 ? CS5 : dataBits == 6 ? CS6 : dataBits == 7 ? CS7 : CS8;
    if (parity == RS_PARITY_EVEN)
        tio.c_cflag |= PARENB;
    else if (parity == RS_PARITY_ODD)
        tio.c_cflag |= PARENB | PARODD;
    if (stopBits == 2)
        tio.c_cflag |= CSTOPB;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    // VMIN 1 with a non-blocking descriptor: an empty queue reads as EAGAIN, so a read
    // of 0 bytes can only mean the far side hung up.
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
    return tio;
}

PosixRs232::~PosixRs232()
{
    while (!ports_.empty())
        closePort(ports_.begin()->first);
}

int PosixRs232::ok(int result)
{
    lastError_ = 0;
    lastDetail_.clear();
    return result;
}

int PosixRs232::fail(int code, const std::string& detail)
{
    lastError_ = code;
    lastDetail_ = detail;
    return code;
}

int PosixRs232::failErrno(int code, const Port& p, int err)
{
    return fail(code, Rs232ErrorText(code) + ": " + p.path + " (" + std::strerror(err) + ")");
}

bool PosixRs232::hungUp(const Port& p) const
{
    pollfd pfd{p.fd, POLLIN, 0};
    if (::poll(&pfd, 1, 0) < 0)
        return false;
    if (pfd.revents & POLLNVAL)
        return true;
    // A hang-up with bytes still waiting is not yet "gone": they can be read first.
    if (pfd.revents & (POLLHUP | POLLERR)) {
        int waiting = 0;
        return ::ioctl(p.fd, FIONREAD, &waiting) != 0 || waiting == 0;
    }
    return false;
}

bool PosixRs232::namesAnotherDevice(const Port& p, const std::string& path) const
{
    if (path != p.path)
        return true;
    // The same name may have been pointed at another device (a link re-pointed, a node made
    // anew). A name that leads nowhere names no other device: the hang-up check decides then.
    struct stat named = {};
    struct stat open = {};
    if (::stat(path.c_str(), &named) != 0 || ::fstat(p.fd, &open) != 0)
        return false;
    return named.st_rdev != open.st_rdev || named.st_dev != open.st_dev || named.st_ino != open.st_ino;
}

void PosixRs232::closePort(int port)
{
    auto it = ports_.find(port);
    if (it == ports_.end())
        return;
    releaseDevice(it->second);
    if (it->second.fd >= 0)
        ::close(it->second.fd);
    ports_.erase(it);
}

int PosixRs232::openDevice(int port, const std::string& path, int busyCode)
{
    Port p;
    p.path = path;
    // Non-blocking, so a device that waits for a modem-control line (carrier detect) opens at once.
    p.fd = ::open(p.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (p.fd < 0) {
        const int err = errno;
        return failErrno(err == EBUSY ? busyCode : RS_ERR_CANNOT_OPEN, p, err);
    }
    if (!::isatty(p.fd)) {
        ::close(p.fd);
        return fail(RS_ERR_CANNOT_OPEN, Rs232ErrorText(RS_ERR_CANNOT_OPEN) + ": " + p.path + " is not a serial device");
    }
    ports_.emplace(port, p);
    return ok();
}

int PosixRs232::claimDevice(Port& p)
{
    // Exclusive use makes other opens fail with EBUSY, but not a process allowed to override
    // it (root): that one sees it only by asking the device.
    int exclusive = 0;
    if (::ioctl(p.fd, TIOCGEXCL, &exclusive) == 0 && exclusive)
        return fail(RS_ERR_BUSY, Rs232ErrorText(RS_ERR_BUSY) + ": " + p.path + " (set for exclusive use)");
    if (::flock(p.fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        return fail(RS_ERR_BUSY, Rs232ErrorText(RS_ERR_BUSY) + ": " + p.path + " (locked)");
    termios before{};
    if (::tcgetattr(p.fd, &before) != 0) {
        const int err = errno;
        ::flock(p.fd, LOCK_UN);
        return failErrno(deviceGoneErrno(err) ? RS_ERR_DEVICE_GONE : RS_ERR_SYSTEM, p, err);
    }
    if (::ioctl(p.fd, TIOCEXCL) != 0) {
        const int err = errno;
        ::flock(p.fd, LOCK_UN);
        return failErrno(deviceGoneErrno(err) ? RS_ERR_DEVICE_GONE : RS_ERR_SYSTEM, p, err);
    }
    p.claimedFrom = before;
    return ok();
}

int PosixRs232::releaseDevice(Port& p)
{
    if (!p.claimedFrom)
        return 0;
    // What the visit left queued is nobody else's business; then the settings go back. Now,
    // not after the output drains: a line that never drains must not hold the release.
    ::tcflush(p.fd, TCIOFLUSH);
    p.ahead.clear();
    const int err = ::tcsetattr(p.fd, TCSANOW, &*p.claimedFrom) == 0 ? 0 : errno;
    ::ioctl(p.fd, TIOCNXCL);
    ::flock(p.fd, LOCK_UN);
    p.claimedFrom.reset();
    return err;
}

int PosixRs232::ClaimCom(int port)
{
    if (port < 1 || port > 99)
        return fail(RS_ERR_INVALID_PORT, "Invalid port number: COM" + std::to_string(port));
    const std::string path = ResolveComPort(port);
    auto it = ports_.find(port);
    if (it != ports_.end() && it->second.claimedFrom)
        return ok();
    // A device gone or replaced behind the name is dropped, as a reopening drops it.
    if (it != ports_.end() && (hungUp(it->second) || namesAnotherDevice(it->second, path)))
        closePort(port);
    const bool wasOpen = ports_.count(port) != 0;
    if (!wasOpen) {
        if (const int rc = openDevice(port, path, RS_ERR_BUSY); rc < 0)
            return rc;
    }
    if (const int rc = claimDevice(ports_.at(port)); rc < 0) {
        if (!wasOpen)
            closePort(port);  // leaves the error as claimDevice recorded it
        return rc;
    }
    return ok();
}

int PosixRs232::ReleaseCom(int port)
{
    auto it = ports_.find(port);
    if (it == ports_.end())
        return fail(RS_ERR_NOT_OPEN, Rs232ErrorText(RS_ERR_NOT_OPEN) + ": COM" + std::to_string(port));
    if (const int err = releaseDevice(it->second); err != 0)
        return failErrno(deviceGoneErrno(err) ? RS_ERR_DEVICE_GONE : RS_ERR_SYSTEM, it->second, err);
    return ok();
}

std::string PosixRs232::DevicePath(int port) const
{
    auto it = ports_.find(port);
    return it == ports_.end() ? std::string() : it->second.path;
}

int PosixRs232::OpenComConfig(int port, const std::string& /*deviceName*/, long baud, int parity, int dataBits,
                              int stopBits, int /*inputQueueSize*/, int /*outputQueueSize*/)
{
    if (port < 1 || port > 99)
        return fail(RS_ERR_INVALID_PORT, "Invalid port number: COM" + std::to_string(port));
    if (!LineTermios(termios{}, baud, parity, dataBits, stopBits))
        return fail(RS_ERR_BAD_SETTINGS, Rs232ErrorText(RS_ERR_BAD_SETTINGS) + ": " + std::to_string(baud) + " baud, " +
                                             std::to_string(dataBits) + " data bits, " + std::to_string(stopBits) +
                                             " stop bits, parity " + std::to_string(parity));

    // A re-plugged adapter comes back as a new device behind the same path, and one plugged
    // back after a fallback makes COMn name another path: either way the open descriptor is
    // dropped and the device COMn names now is opened.
    const std::string path = ResolveComPort(port);
    auto it = ports_.find(port);
    // A claim goes with the port to the device it is reopened on.
    bool claimed = it != ports_.end() && it->second.claimedFrom;
    if (it != ports_.end() && (hungUp(it->second) || namesAnotherDevice(it->second, path)))
        closePort(port);

    for (int attempt = 0; attempt < 2; ++attempt) {
        it = ports_.find(port);
        if (it == ports_.end()) {
            if (const int rc = openDevice(port, path, claimed ? RS_ERR_BUSY : RS_ERR_CANNOT_OPEN); rc < 0)
                return rc;
            it = ports_.find(port);
            if (claimed) {
                if (const int rc = claimDevice(it->second); rc < 0) {
                    ::close(it->second.fd);
                    ports_.erase(it);
                    return rc;
                }
            }
        }
        Port& p = it->second;
        termios tio{};
        if (::tcgetattr(p.fd, &tio) != 0) {
            const int err = errno;
            if (deviceGoneErrno(err) && attempt == 0) {
                claimed = claimed || p.claimedFrom;
                closePort(port);
                continue;
            }
            const int rc = failErrno(deviceGoneErrno(err) ? RS_ERR_DEVICE_GONE : RS_ERR_SYSTEM, p, err);
            closePort(port);
            return rc;
        }
        tio = *LineTermios(tio, baud, parity, dataBits, stopBits);
        // A pseudo-terminal (the simulator, a test) carries no parity: its kernel side drops
        // the bits or refuses them outright, so it is asked for none.
        if (isPseudoTerminal(p.fd))
            tio.c_cflag &= ~(PARENB | PARODD);
        if (::tcsetattr(p.fd, TCSANOW, &tio) != 0) {
            const int err = errno;
            if (deviceGoneErrno(err) && attempt == 0) {
                claimed = claimed || p.claimedFrom;
                closePort(port);
                continue;
            }
            const int rc = failErrno(deviceGoneErrno(err) ? RS_ERR_DEVICE_GONE : RS_ERR_BAD_SETTINGS, p, err);
            closePort(port);
            return rc;
        }
        // Whatever arrived late for an earlier request must never be taken as the next reply.
        ::tcflush(p.fd, TCIOFLUSH);
        p.ahead.clear();
        return ok();
    }
    return fail(RS_ERR_CANNOT_OPEN, Rs232ErrorText(RS_ERR_CANNOT_OPEN) + ": COM" + std::to_string(port));
}

int PosixRs232::CloseCom(int port)
{
    if (ports_.find(port) == ports_.end())
        return fail(RS_ERR_NOT_OPEN, Rs232ErrorText(RS_ERR_NOT_OPEN) + ": COM" + std::to_string(port));
    closePort(port);
    return ok();
}

int PosixRs232::ComWrtByte(int port, int byte)
{
    const std::uint8_t b = static_cast<std::uint8_t>(byte);
    const int rc = ComWrt(port, &b, 1);
    return rc == 1 ? b : rc;
}

int PosixRs232::ComWrt(int port, const std::uint8_t* buffer, int count)
{
    auto it = ports_.find(port);
    if (it == ports_.end())
        return fail(RS_ERR_NOT_OPEN, Rs232ErrorText(RS_ERR_NOT_OPEN) + ": COM" + std::to_string(port));
    Port& p = it->second;
    const auto deadline =
        std::chrono::steady_clock::now() +
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(p.timeout));
    int sent = 0;
    while (sent < count) {
        const ssize_t n = ::write(p.fd, buffer + sent, static_cast<size_t>(count - sent));
        if (n > 0) {
            sent += static_cast<int>(n);
            continue;
        }
        const int err = errno;
        if (n < 0 && err == EINTR)
            continue;
        if (n < 0 && err != EAGAIN)
            return failErrno(deviceGoneErrno(err) ? RS_ERR_DEVICE_GONE : RS_ERR_SYSTEM, p, err);
        // Output queue full: wait for room, no longer than the time-out.
        pollfd pfd{p.fd, POLLOUT, 0};
        const int ms = remainingMs(deadline);
        if (ms <= 0 || ::poll(&pfd, 1, ms) <= 0)
            return fail(RS_ERR_TIMEOUT, Rs232ErrorText(RS_ERR_TIMEOUT) + ": " + p.path + " (write)");
        if (pfd.revents & (POLLHUP | POLLERR | POLLNVAL))
            return fail(RS_ERR_DEVICE_GONE, Rs232ErrorText(RS_ERR_DEVICE_GONE) + ": " + p.path);
    }
    return ok(sent);
}

int PosixRs232::ComRd(int port, std::uint8_t* buffer, int count)
{
    auto it = ports_.find(port);
    if (it == ports_.end())
        return fail(RS_ERR_NOT_OPEN, Rs232ErrorText(RS_ERR_NOT_OPEN) + ": COM" + std::to_string(port));
    Port& p = it->second;
    // What a look ahead took from the device comes first.
    int got = std::max(0, std::min(count, static_cast<int>(p.ahead.size())));
    if (got > 0) {
        std::copy_n(p.ahead.begin(), got, buffer);
        p.ahead.erase(p.ahead.begin(), p.ahead.begin() + got);
    }
    const auto deadline =
        std::chrono::steady_clock::now() +
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(p.timeout));
    while (got < count) {
        const ssize_t n = ::read(p.fd, buffer + got, static_cast<size_t>(count - got));
        if (n > 0) {
            got += static_cast<int>(n);
            continue;
        }
        // A non-blocking tty read with nothing waiting fails with EAGAIN; end-of-file means
        // the far side hung up (an unplugged adapter, a closed pseudo-terminal).
        if (n == 0) {
            fail(RS_ERR_DEVICE_GONE, Rs232ErrorText(RS_ERR_DEVICE_GONE) + ": " + p.path);
            return got > 0 ? got : lastError_;
        }
        const int err = errno;
        if (err == EINTR)
            continue;
        if (err != EAGAIN) {
            failErrno(deviceGoneErrno(err) ? RS_ERR_DEVICE_GONE : RS_ERR_SYSTEM, p, err);
            return got > 0 ? got : lastError_;
        }
        pollfd pfd{p.fd, POLLIN, 0};
        const int ms = remainingMs(deadline);
        const int r = ms > 0 ? ::poll(&pfd, 1, ms) : 0;
        if (r <= 0) {
            fail(RS_ERR_TIMEOUT, Rs232ErrorText(RS_ERR_TIMEOUT) + ": " + p.path + " (" + std::to_string(got) + " of " +
                                     std::to_string(count) + " bytes)");
            return got;
        }
        if ((pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) && !(pfd.revents & POLLIN)) {
            fail(RS_ERR_DEVICE_GONE, Rs232ErrorText(RS_ERR_DEVICE_GONE) + ": " + p.path);
            return got > 0 ? got : lastError_;
        }
    }
    return ok(got);
}

int PosixRs232::ComPeek(int port, std::uint8_t* buffer, int count)
{
    auto it = ports_.find(port);
    if (it == ports_.end())
        return fail(RS_ERR_NOT_OPEN, Rs232ErrorText(RS_ERR_NOT_OPEN) + ": COM" + std::to_string(port));
    Port& p = it->second;
    // Take what waits into the read-ahead until it holds `count` bytes or nothing more waits.
    while (static_cast<int>(p.ahead.size()) < count) {
        std::uint8_t chunk[64];
        const std::size_t want = std::min(sizeof chunk, static_cast<std::size_t>(count) - p.ahead.size());
        const ssize_t n = ::read(p.fd, chunk, want);
        if (n > 0) {
            p.ahead.insert(p.ahead.end(), chunk, chunk + n);
            continue;
        }
        const int err = n < 0 ? errno : 0;
        if (n < 0 && err == EINTR)
            continue;
        if (n < 0 && err == EAGAIN)
            break;
        // Hung up (end of file) or failed: what was taken can still be read; the error shows
        // once nothing is left.
        if (!p.ahead.empty())
            break;
        if (n == 0)
            return fail(RS_ERR_DEVICE_GONE, Rs232ErrorText(RS_ERR_DEVICE_GONE) + ": " + p.path);
        return failErrno(deviceGoneErrno(err) ? RS_ERR_DEVICE_GONE : RS_ERR_SYSTEM, p, err);
    }
    const int n = std::max(0, std::min(count, static_cast<int>(p.ahead.size())));
    std::copy_n(p.ahead.begin(), n, buffer);
    return ok(n);
}

int PosixRs232::GetInQLen(int port)
{
    auto it = ports_.find(port);
    if (it == ports_.end())
        return fail(RS_ERR_NOT_OPEN, Rs232ErrorText(RS_ERR_NOT_OPEN) + ": COM" + std::to_string(port));
    Port& p = it->second;
    int waiting = 0;
    if (::ioctl(p.fd, FIONREAD, &waiting) != 0) {
        const int err = errno;
        return failErrno(deviceGoneErrno(err) ? RS_ERR_DEVICE_GONE : RS_ERR_SYSTEM, p, err);
    }
    waiting += static_cast<int>(p.ahead.size());
    if (waiting == 0 && hungUp(p))
        return fail(RS_ERR_DEVICE_GONE, Rs232ErrorText(RS_ERR_DEVICE_GONE) + ": " + p.path);
    return ok(waiting);
}

int PosixRs232::SetComTime(int port, double seconds)
{
    auto it = ports_.find(port);
    if (it == ports_.end())
        return fail(RS_ERR_NOT_OPEN, Rs232ErrorText(RS_ERR_NOT_OPEN) + ": COM" + std::to_string(port));
    it->second.timeout = seconds > 0 ? seconds : 0;
    return ok();
}

std::string PosixRs232::GetRS232ErrorString(int code)
{
    if (code != 0 && code == lastError_ && !lastDetail_.empty())
        return lastDetail_;
    return Rs232ErrorText(code);
}

}  // namespace vek::platform
