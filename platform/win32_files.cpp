// The file service and the whole-file read on Windows (the POSIX ones are in files.cpp).
#include <fcntl.h>
#include <io.h>

#include <algorithm>

#include "files.h"
#include "win32_rs232.h"  // windows.h, WideOf, Win32ErrorText

namespace vek::platform {

namespace {

// 100-nanosecond ticks from 1601-01-01 to 1970-01-01.
constexpr long long kEpochTicks = 116444736000000000LL;

long long sizeOf(DWORD high, DWORD low) { return (static_cast<long long>(high) << 32) | low; }

long long nsSince1970(FILETIME ft)
{
    const long long ticks = sizeOf(ft.dwHighDateTime, ft.dwLowDateTime);
    return (ticks - kEpochTicks) * 100;
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool missing(DWORD err) { return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND; }

// What a name that is not a regular file is instead; null for a regular file.
const char* kindOf(HANDLE h)
{
    switch (::GetFileType(h)) {
    case FILE_TYPE_DISK: {
        BY_HANDLE_FILE_INFORMATION info{};
        if (::GetFileInformationByHandle(h, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            return "a folder";
        return nullptr;
    }
    case FILE_TYPE_PIPE: return "a named pipe";
    case FILE_TYPE_CHAR: return "a character device";
    default: return "a special file";
    }
}

}  // namespace

int Win32Files::failed(unsigned long err)
{
    lastError_ = err;
    return -1;
}

std::string Win32Files::LastErrorText() const { return lastError_ ? Win32ErrorText(lastError_) : std::string(); }

int Win32Files::GetFileInfo(const std::string& name, long long* size) { return GetFileStamp(name, size, nullptr); }

int Win32Files::GetFileStamp(const std::string& name, long long* size, long long* modifiedNs)
{
    if (modifiedNs)
        *modifiedNs = 0;
    if (size)
        *size = 0;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (name.empty() || !::GetFileAttributesExW(WideOf(name).c_str(), GetFileExInfoStandard, &data)) {
        const DWORD err = name.empty() ? ERROR_FILE_NOT_FOUND : ::GetLastError();
        lastError_ = err;
        return missing(err) ? 0 : -1;
    }
    if (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) {
        lastError_ = 0;  // no system error: the caller names the reason
        return -1;
    }
    if (size)
        *size = sizeOf(data.nFileSizeHigh, data.nFileSizeLow);
    if (modifiedNs)
        *modifiedNs = nsSince1970(data.ftLastWriteTime);
    return 1;
}

int Win32Files::CVI_OpenFile(const std::string& name, int access, int action, int /*type*/)
{
    if (name.empty())
        return failed(ERROR_FILE_NOT_FOUND);
    DWORD rights = GENERIC_READ | GENERIC_WRITE;
    int crtFlags = _O_BINARY;
    if (access == FILE_ACCESS_READ) {
        rights = GENERIC_READ;
        crtFlags |= _O_RDONLY;
    } else if (access == FILE_ACCESS_WRITE) {
        rights = GENERIC_WRITE;
        crtFlags |= _O_WRONLY;
    } else {
        crtFlags |= _O_RDWR;
    }
    DWORD disposition = OPEN_EXISTING;
    if (access != FILE_ACCESS_READ) {
        disposition = action == FILE_ACTION_TRUNCATE ? CREATE_ALWAYS : OPEN_ALWAYS;
        if (action == FILE_ACTION_APPEND)
            crtFlags |= _O_APPEND;
    }
    const HANDLE h = ::CreateFileW(WideOf(name).c_str(), rights, kShareAll, nullptr, disposition,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return failed(::GetLastError());
    if (kindOf(h) != nullptr) {
        ::CloseHandle(h);
        lastError_ = 0;  // not a regular file: no system error, the caller names it
        return -1;
    }
    if (action == FILE_ACTION_APPEND && access != FILE_ACCESS_READ) {
        LARGE_INTEGER zero{};
        ::SetFilePointerEx(h, zero, nullptr, FILE_END);
    }
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), crtFlags);
    if (fd < 0) {
        ::CloseHandle(h);
        return failed(ERROR_TOO_MANY_OPEN_FILES);
    }
    if (action == FILE_ACTION_APPEND && access != FILE_ACCESS_READ)
        appending_.insert(fd);
    else
        appending_.erase(fd);
    return fd;
}

long long Win32Files::CVI_WriteFile(int handle, const char* buffer, long long count)
{
    if (handle < 0 || count < 0)
        return -1;
    const auto h = reinterpret_cast<HANDLE>(::_get_osfhandle(handle));
    if (h == INVALID_HANDLE_VALUE)
        return failed(ERROR_INVALID_HANDLE);
    LARGE_INTEGER zero{};
    LARGE_INTEGER end{};
    // A log opened to append writes at the end, wherever the file ends now (another
    // program may have added to it).
    if (appending_.count(handle))
        ::SetFilePointerEx(h, zero, nullptr, FILE_END);
    // Where the file ends now: a write the disk cuts short is taken back to here, so the
    // file never ends in half a line.
    LARGE_INTEGER before{};
    const bool known = ::SetFilePointerEx(h, zero, &before, FILE_CURRENT) != 0;
    long long done = 0;
    DWORD err = 0;
    while (done < count) {
        const DWORD chunk = static_cast<DWORD>(std::min<long long>(count - done, 1 << 30));
        DWORD n = 0;
        if (!::WriteFile(h, buffer + done, chunk, &n, nullptr)) {
            err = ::GetLastError();
            break;
        }
        if (n == 0) {
            err = ERROR_DISK_FULL;
            break;
        }
        done += n;
    }
    if (done < count)
        lastError_ = err ? err : ERROR_DISK_FULL;
    if (done == 0 && count > 0)
        return -1;
    if (done < count && known && ::SetFilePointerEx(h, before, &end, FILE_BEGIN) && ::SetEndOfFile(h))
        return 0;
    return done;
}

int Win32Files::CVI_CloseFile(int handle)
{
    if (handle < 0)
        return -1;
    appending_.erase(handle);
    return ::_close(handle) == 0 ? 0 : -1;
}

WholeFile ReadWholeFile(const std::string& name, long long limit)
{
    limit = std::max(limit, 0LL);
    WholeFile f;
    if (name.empty()) {
        f.why = Win32ErrorText(ERROR_FILE_NOT_FOUND);
        return f;
    }
    // Backup semantics, so that a folder opens too and can be named as one; nothing here
    // waits: a pipe is refused before anything is read from it.
    const HANDLE h = ::CreateFileW(WideOf(name).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        f.why = Win32ErrorText(::GetLastError());
        return f;
    }
    if (const char* kind = kindOf(h)) {
        ::CloseHandle(h);
        f.result = WholeFile::Result::NotRegular;
        f.why = kind;
        return f;
    }
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(h, &size)) {
        f.why = Win32ErrorText(::GetLastError());
        ::CloseHandle(h);
        return f;
    }
    if (size.QuadPart > limit) {
        ::CloseHandle(h);
        f.result = WholeFile::Result::TooLarge;
        f.size = size.QuadPart;
        return f;
    }
    // A file that grew past the limit since the look is too large as well.
    std::string text(static_cast<std::size_t>(std::min<long long>(size.QuadPart, limit)) + 1, '\0');
    std::size_t done = 0;
    for (;;) {
        if (done == text.size()) {
            if (static_cast<long long>(done) > limit)
                break;
            text.resize(std::min<std::size_t>(2 * done, static_cast<std::size_t>(limit) + 1));
        }
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(text.size() - done, 1u << 30));
        DWORD n = 0;
        if (!::ReadFile(h, text.data() + done, want, &n, nullptr)) {
            f.why = Win32ErrorText(::GetLastError());
            ::CloseHandle(h);
            return f;
        }
        if (n == 0)
            break;
        done += n;
    }
    ::CloseHandle(h);
    if (static_cast<long long>(done) > limit) {
        f.result = WholeFile::Result::TooLarge;
        f.size = std::max<long long>(static_cast<long long>(done), size.QuadPart);
        return f;
    }
    text.resize(done);
    f.result = WholeFile::Result::Read;
    f.size = static_cast<long long>(done);
    f.text = std::move(text);
    return f;
}

}  // namespace vek::platform
