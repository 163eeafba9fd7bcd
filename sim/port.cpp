#include "port.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace vek::sim {

namespace {

std::string sysError(const std::string& what) { return what + ": " + std::strerror(errno); }

speed_t speedOf(unsigned baud) { return baud == 19200 ? B19200 : B9600; }

void makeRaw(termios& t)
{
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
}

}  // namespace

std::optional<Port> openPty(const LineSettings& line, std::string& error)
{
    Port p;
    p.pty = true;
    p.fd = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (p.fd < 0) {
        error = sysError("posix_openpt");
        return std::nullopt;
    }
    char name[128];
    if (grantpt(p.fd) != 0 || unlockpt(p.fd) != 0 || ptsname_r(p.fd, name, sizeof name) != 0) {
        error = sysError("pseudo-terminal set-up");
        closePort(p);
        return std::nullopt;
    }
    p.path = name;
    p.keepFd = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (p.keepFd < 0) {
        error = sysError("open " + p.path);
        closePort(p);
        return std::nullopt;
    }
    // Until the master sets its own, a cooked far end would echo our replies back to us and
    // turn 0x0A into 0x0D 0x0A in its requests.
    termios t{};
    if (tcgetattr(p.keepFd, &t) == 0) {
        makeRaw(t);
        cfsetispeed(&t, speedOf(line.baud));
        cfsetospeed(&t, speedOf(line.baud));
        tcsetattr(p.keepFd, TCSANOW, &t);
    }
    return p;
}

bool configureDevice(int fd, const LineSettings& line, std::string& error)
{
    termios t{};
    if (tcgetattr(fd, &t) != 0) {
        error = sysError("tcgetattr");
        return false;
    }
    makeRaw(t);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | PARENB | PARODD | CRTSCTS);
    t.c_cflag |= CS8;
    if (line.parity != Parity::None) {
        t.c_cflag |= PARENB;
        if (line.parity == Parity::Odd)
            t.c_cflag |= PARODD;
        t.c_iflag |= INPCK | IGNPAR;
    }
    cfsetispeed(&t, speedOf(line.baud));
    cfsetospeed(&t, speedOf(line.baud));
    if (tcsetattr(fd, TCSANOW, &t) != 0) {
        error = sysError("tcsetattr");
        return false;
    }
    return true;
}

std::optional<Port> openDevice(const std::string& path, const LineSettings& line, std::string& error)
{
    Port p;
    p.path = path;
    p.fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (p.fd < 0) {
        error = sysError("open " + path);
        return std::nullopt;
    }
    if (!configureDevice(p.fd, line, error)) {
        error = path + ": " + error;
        closePort(p);
        return std::nullopt;
    }
    struct stat st {};
    // Unix98 pseudo-terminal far ends have majors 136 to 143.
    p.ptyDevice = fstat(p.fd, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
    tcflush(p.fd, TCIOFLUSH);
    return p;
}

void closePort(Port& p)
{
    if (p.keepFd >= 0)
        ::close(p.keepFd);
    if (p.fd >= 0)
        ::close(p.fd);
    p.keepFd = -1;
    p.fd = -1;
}

std::optional<unsigned> peerBaud(const Port& p)
{
    if (!p.pty || p.fd < 0)
        return std::nullopt;
    // On Linux the settings read through the master are those of the far end.
    termios t{};
    if (tcgetattr(p.fd, &t) != 0)
        return std::nullopt;
    switch (cfgetospeed(&t)) {
    case B1200: return 1200u;
    case B2400: return 2400u;
    case B4800: return 4800u;
    case B9600: return 9600u;
    case B19200: return 19200u;
    case B38400: return 38400u;
    case B57600: return 57600u;
    case B115200: return 115200u;
    default: return std::nullopt;
    }
}

bool makeLink(const std::string& link, const std::string& target, std::string& error)
{
    struct stat st {};
    if (lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        error = link + " exists and is not a symbolic link; not replacing it";
        return false;
    }
    // Made under a temporary name and renamed over, so the path is never missing while a
    // master reopens it.
    const std::string temp = link + ".tmp" + std::to_string(getpid());
    ::unlink(temp.c_str());
    if (::symlink(target.c_str(), temp.c_str()) != 0) {
        error = sysError("symlink " + link);
        return false;
    }
    if (::rename(temp.c_str(), link.c_str()) != 0) {
        error = sysError("rename to " + link);
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

void removeLink(const std::string& link, const std::string& target)
{
    char buf[4096];
    const ssize_t n = ::readlink(link.c_str(), buf, sizeof buf - 1);
    if (n < 0)
        return;
    buf[n] = '\0';
    if (target == buf)
        ::unlink(link.c_str());
}

}  // namespace vek::sim
