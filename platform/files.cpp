#include "files.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace vek::platform {

// The POSIX file service; Windows has its own in win32_files.cpp.
#ifndef _WIN32
int PosixFiles::GetFileInfo(const std::string& name, long long* size) { return GetFileStamp(name, size, nullptr); }

int PosixFiles::failed(int err)
{
    lastErrno_ = err;
    return -1;
}

std::string PosixFiles::LastErrorText() const { return lastErrno_ ? std::strerror(lastErrno_) : std::string(); }

int PosixFiles::GetFileStamp(const std::string& name, long long* size, long long* modifiedNs)
{
    if (modifiedNs)
        *modifiedNs = 0;
    struct stat st {};
    if (::stat(name.c_str(), &st) != 0) {
        if (size)
            *size = 0;
        lastErrno_ = errno;
        return (errno == ENOENT || errno == ENOTDIR) ? 0 : -1;
    }
    if (!S_ISREG(st.st_mode)) {
        if (size)
            *size = 0;
        lastErrno_ = 0;  // no system error: the caller names the reason
        return -1;
    }
    if (size)
        *size = static_cast<long long>(st.st_size);
    if (modifiedNs)
        *modifiedNs = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    return 1;
}

int PosixFiles::CVI_OpenFile(const std::string& name, int access, int action, int /*type*/)
{
    // Both file types are the same here: nothing translates line ends on this system.
    int flags = O_CLOEXEC;
    switch (access) {
    case FILE_ACCESS_READ: flags |= O_RDONLY; break;
    case FILE_ACCESS_WRITE: flags |= O_WRONLY | O_CREAT; break;
    default: flags |= O_RDWR | O_CREAT; break;
    }
    if (access != FILE_ACCESS_READ) {
        if (action == FILE_ACTION_TRUNCATE)
            flags |= O_TRUNC;
        else if (action == FILE_ACTION_APPEND)
            flags |= O_APPEND;
    }
    if (name.empty())
        return failed(ENOENT);
    const int fd = ::open(name.c_str(), flags, 0644);
    if (fd < 0)
        return failed(errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        lastErrno_ = 0;  // not a regular file: no system error, the caller names it
        return -1;
    }
    return fd;
}

long long PosixFiles::CVI_WriteFile(int handle, const char* buffer, long long count)
{
    if (handle < 0 || count < 0)
        return -1;
    // Where the file ends now: a write the disk cuts short is taken back to here, so the
    // file never ends in half a line.
    struct stat st {};
    const bool regular = ::fstat(handle, &st) == 0 && S_ISREG(st.st_mode);
    long long done = 0;
    int err = 0;
    while (done < count) {
        const ssize_t n = ::write(handle, buffer + done, static_cast<size_t>(count - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            err = errno;
            break;
        }
        if (n == 0) {
            err = ENOSPC;
            break;
        }
        done += n;
    }
    if (done < count)
        lastErrno_ = err ? err : ENOSPC;
    if (done == 0 && count > 0)
        return -1;
    if (done < count && regular && ::ftruncate(handle, st.st_size) == 0)
        return 0;
    return done;
}

int PosixFiles::CVI_CloseFile(int handle)
{
    if (handle < 0)
        return -1;
    return ::close(handle) == 0 ? 0 : -1;
}

namespace {

const char* kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return "a folder";
    if (S_ISFIFO(mode))
        return "a named pipe";
    if (S_ISCHR(mode))
        return "a character device";
    if (S_ISBLK(mode))
        return "a block device";
    if (S_ISSOCK(mode))
        return "a socket";
    return "a special file";
}

}  // namespace

WholeFile ReadWholeFile(const std::string& name, long long limit)
{
    limit = std::max(limit, 0LL);
    WholeFile f;
    struct stat st {};
    if (name.empty() || ::stat(name.c_str(), &st) != 0) {
        f.why = std::strerror(name.empty() ? ENOENT : errno);
        return f;
    }
    const auto refuse = [&f](WholeFile::Result r, const struct stat& s) {
        f.result = r;
        if (r == WholeFile::Result::TooLarge)
            f.size = static_cast<long long>(s.st_size);
        else
            f.why = kindOf(s.st_mode);
        return f;
    };
    if (!S_ISREG(st.st_mode))
        return refuse(WholeFile::Result::NotRegular, st);
    if (st.st_size > limit)
        return refuse(WholeFile::Result::TooLarge, st);
    // Non-blocking, so that a pipe put in the file's place since the look is not waited on.
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        f.why = std::strerror(errno);
        return f;
    }
    struct stat now {};
    if (::fstat(fd, &now) != 0 || !S_ISREG(now.st_mode)) {
        ::close(fd);
        return refuse(WholeFile::Result::NotRegular, now);
    }
    // A file that grew past the limit since the look is too large as well.
    std::string text(static_cast<std::size_t>(std::min<long long>(now.st_size, limit)) + 1, '\0');
    std::size_t done = 0;
    for (;;) {
        if (done == text.size()) {
            if (static_cast<long long>(done) > limit)
                break;
            text.resize(std::min<std::size_t>(2 * done, static_cast<std::size_t>(limit) + 1));
        }
        const ssize_t n = ::read(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            f.why = std::strerror(errno);
            ::close(fd);
            return f;
        }
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    if (static_cast<long long>(done) > limit) {
        f.result = WholeFile::Result::TooLarge;
        f.size = std::max<long long>(static_cast<long long>(done), now.st_size);
        return f;
    }
    text.resize(done);
    f.result = WholeFile::Result::Read;
    f.size = static_cast<long long>(done);
    f.text = std::move(text);
    return f;
}

#endif  // !_WIN32

namespace {
std::tm localOf(const Clock& clock) { return LocalTimeOf(clock.wallTime()); }
}  // namespace

std::string DateStr(const Clock& clock)
{
    const std::tm tm = localOf(clock);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d-%02d-%04d", tm.tm_mon + 1, tm.tm_mday, tm.tm_year + 1900);
    return buf;
}

std::string TimeStr(const Clock& clock)
{
    const std::tm tm = localOf(clock);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

int CompareStrings(const std::string& s1, int i1, const std::string& s2, int i2, int caseSensitive)
{
    const std::size_t a0 = i1 < 0 ? 0 : static_cast<std::size_t>(i1);
    const std::size_t b0 = i2 < 0 ? 0 : static_cast<std::size_t>(i2);
    const std::string a = a0 < s1.size() ? s1.substr(a0) : std::string();
    const std::string b = b0 < s2.size() ? s2.substr(b0) : std::string();
    for (std::size_t k = 0;; ++k) {
        int ca = k < a.size() ? static_cast<unsigned char>(a[k]) : 0;
        int cb = k < b.size() ? static_cast<unsigned char>(b[k]) : 0;
        if (!caseSensitive && ca < 128 && cb < 128) {
            ca = std::tolower(ca);
            cb = std::tolower(cb);
        }
        if (ca != cb)
            return ca < cb ? -1 : 1;
        if (ca == 0)
            return 0;
    }
}

}  // namespace vek::platform
