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

namespace {

SystemError systemError(int err) { return {deviceGoneErrno(err), std::strerror(err)}; }

// An opening that failed says why, in the system's words, whatever the cause.
SystemError openError(int err) { return {false, std::strerror(err)}; }

DeviceFailure failedCall(int code, int err) { return {code, systemError(err)}; }

}  // namespace

PosixRs232::~PosixRs232() { closeAll(); }

bool PosixRs232::settingsValid(long baud, int parity, int dataBits, int stopBits) const
{
    return LineTermios(termios{}, baud, parity, dataBits, stopBits).has_value();
}

bool PosixRs232::deviceGone(const Port& p) const
{
    pollfd pfd{p.dev.fd, POLLIN, 0};
    if (::poll(&pfd, 1, 0) < 0)
        return false;
    if (pfd.revents & POLLNVAL)
        return true;
    // A hang-up with bytes still waiting is not yet "gone": they can be read first.
    if (pfd.revents & (POLLHUP | POLLERR)) {
        int waiting = 0;
        return ::ioctl(p.dev.fd, FIONREAD, &waiting) != 0 || waiting == 0;
    }
    return false;
}

bool PosixRs232::namesAnotherDevice(const Port& p, const std::string& path) const
{
    if (path != p.path)
        return true;
    // A name that leads nowhere names no other device: the hang-up check decides then.
    struct stat named = {};
    struct stat open = {};
    if (::stat(path.c_str(), &named) != 0 || ::fstat(p.dev.fd, &open) != 0)
        return false;
    return named.st_rdev != open.st_rdev || named.st_dev != open.st_dev || named.st_ino != open.st_ino;
}

void PosixRs232::closeDevice(Port& p)
{
    if (p.dev.fd >= 0)
        ::close(p.dev.fd);
    p.dev.fd = -1;
}

int PosixRs232::openDevice(Port& p, int busyCode)
{
    // Non-blocking, so a device that waits for a modem-control line (carrier detect) opens at once.
    p.dev.fd = ::open(p.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (p.dev.fd < 0) {
        const int err = errno;
        return failSystem(err == EBUSY ? busyCode : RS_ERR_CANNOT_OPEN, p, openError(err));
    }
    if (!::isatty(p.dev.fd)) {
        closeDevice(p);
        return failNotSerial(p);
    }
    return 0;
}

int PosixRs232::claimDevice(Port& p)
{
    const int fd = p.dev.fd;
    // Exclusive use makes other opens fail with EBUSY, but not a process allowed to override
    // it (root): that one sees it only by asking the device.
    int exclusive = 0;
    if (::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive)
        return fail(RS_ERR_BUSY, Rs232ErrorText(RS_ERR_BUSY) + ": " + p.path + " (set for exclusive use)");
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        return fail(RS_ERR_BUSY, Rs232ErrorText(RS_ERR_BUSY) + ": " + p.path + " (locked)");
    termios before{};
    if (::tcgetattr(fd, &before) != 0 || ::ioctl(fd, TIOCEXCL) != 0) {
        const int err = errno;
        ::flock(fd, LOCK_UN);
        return failSystem(RS_ERR_SYSTEM, p, systemError(err));
    }
    p.dev.claimedFrom = before;
    return 0;
}

std::optional<SystemError> PosixRs232::releaseDevice(Port& p)
{
    if (!p.dev.claimedFrom)
        return std::nullopt;
    // What the visit left queued goes, then the settings go back. Now, not after the output
    // drains: a line that never drains must not hold the release.
    ::tcflush(p.dev.fd, TCIOFLUSH);
    const int err = ::tcsetattr(p.dev.fd, TCSANOW, &*p.dev.claimedFrom) == 0 ? 0 : errno;
    ::ioctl(p.dev.fd, TIOCNXCL);
    ::flock(p.dev.fd, LOCK_UN);
    p.dev.claimedFrom.reset();
    if (err != 0)
        return systemError(err);
    return std::nullopt;
}

std::optional<DeviceFailure> PosixRs232::configureDevice(Port& p, long baud, int parity, int dataBits, int stopBits,
                                                         int /*inputQueueSize*/, int /*outputQueueSize*/)
{
    termios tio{};
    if (::tcgetattr(p.dev.fd, &tio) != 0)
        return failedCall(RS_ERR_SYSTEM, errno);
    tio = *LineTermios(tio, baud, parity, dataBits, stopBits);
    // A pseudo-terminal (the simulator, a test) carries no parity: its kernel side drops
    // the bits or refuses them outright, so it is asked for none.
    if (isPseudoTerminal(p.dev.fd))
        tio.c_cflag &= ~(PARENB | PARODD);
    if (::tcsetattr(p.dev.fd, TCSANOW, &tio) != 0)
        return failedCall(RS_ERR_BAD_SETTINGS, errno);
    ::tcflush(p.dev.fd, TCIOFLUSH);
    return std::nullopt;
}

int PosixRs232::writeDevice(Port& p, const std::uint8_t* buffer, int count)
{
    const auto deadline =
        std::chrono::steady_clock::now() +
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(p.timeout));
    int sent = 0;
    while (sent < count) {
        const ssize_t n = ::write(p.dev.fd, buffer + sent, static_cast<size_t>(count - sent));
        if (n > 0) {
            sent += static_cast<int>(n);
            continue;
        }
        const int err = errno;
        if (n < 0 && err == EINTR)
            continue;
        if (n < 0 && err != EAGAIN)
            return failSystem(RS_ERR_SYSTEM, p, systemError(err));
        // Output queue full: wait for room, no longer than the time-out.
        pollfd pfd{p.dev.fd, POLLOUT, 0};
        const int ms = remainingMs(deadline);
        if (ms <= 0 || ::poll(&pfd, 1, ms) <= 0)
            return fail(RS_ERR_TIMEOUT, Rs232ErrorText(RS_ERR_TIMEOUT) + ": " + p.path + " (write)");
        if (pfd.revents & (POLLHUP | POLLERR | POLLNVAL))
            return failOn(RS_ERR_DEVICE_GONE, p);
    }
    return sent;
}

std::optional<DeviceFailure> PosixRs232::readDevice(Port& p, std::uint8_t* buffer, int count, int& got)
{
    const auto deadline =
        std::chrono::steady_clock::now() +
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(p.timeout));
    got = 0;
    while (got < count) {
        const ssize_t n = ::read(p.dev.fd, buffer + got, static_cast<size_t>(count - got));
        if (n > 0) {
            got += static_cast<int>(n);
            continue;
        }
        // A non-blocking tty read with nothing waiting fails with EAGAIN; end-of-file means
        // the far side hung up (an unplugged adapter, a closed pseudo-terminal).
        if (n == 0)
            return DeviceFailure{RS_ERR_DEVICE_GONE, std::nullopt};
        const int err = errno;
        if (err == EINTR)
            continue;
        if (err != EAGAIN)
            return failedCall(RS_ERR_SYSTEM, err);
        pollfd pfd{p.dev.fd, POLLIN, 0};
        const int ms = remainingMs(deadline);
        const int r = ms > 0 ? ::poll(&pfd, 1, ms) : 0;
        if (r <= 0)
            return DeviceFailure{RS_ERR_TIMEOUT, std::nullopt};
        if ((pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) && !(pfd.revents & POLLIN))
            return DeviceFailure{RS_ERR_DEVICE_GONE, std::nullopt};
    }
    return std::nullopt;
}

std::optional<DeviceFailure> PosixRs232::fillAhead(Port& p, int count)
{
    // Take what waits into the read-ahead until it holds `count` bytes or nothing more waits.
    while (static_cast<int>(p.ahead.size()) < count) {
        std::uint8_t chunk[64];
        const std::size_t want = std::min(sizeof chunk, static_cast<std::size_t>(count) - p.ahead.size());
        const ssize_t n = ::read(p.dev.fd, chunk, want);
        if (n > 0) {
            p.ahead.insert(p.ahead.end(), chunk, chunk + n);
            continue;
        }
        const int err = n < 0 ? errno : 0;
        if (n < 0 && err == EINTR)
            continue;
        if (n < 0 && err == EAGAIN)
            break;
        // Hung up (end of file) or failed.
        if (n == 0)
            return DeviceFailure{RS_ERR_DEVICE_GONE, std::nullopt};
        return failedCall(RS_ERR_SYSTEM, err);
    }
    return std::nullopt;
}

int PosixRs232::waitingBytes(Port& p)
{
    int waiting = 0;
    if (::ioctl(p.dev.fd, FIONREAD, &waiting) != 0)
        return failSystem(RS_ERR_SYSTEM, p, systemError(errno));
    waiting += static_cast<int>(p.ahead.size());
    if (waiting == 0 && deviceGone(p))
        return failOn(RS_ERR_DEVICE_GONE, p);
    return waiting;
}

}  // namespace vek::platform
