// File and utility services: file information, date and time texts, string comparison,
// and the unbuffered file writes of the data logger.
#pragma once
#include <string>
#ifdef _WIN32
#include <set>
#endif

#include "clock.h"

namespace vek::platform {

// CVI_OpenFile access modes, actions and types.
inline constexpr int FILE_ACCESS_READ_WRITE = 0;
inline constexpr int FILE_ACCESS_READ = 1;
inline constexpr int FILE_ACCESS_WRITE = 2;
inline constexpr int FILE_ACTION_TRUNCATE = 0;  // create, or empty an existing file
inline constexpr int FILE_ACTION_APPEND = 1;    // create, or write at the end
inline constexpr int FILE_ACTION_OPEN = 2;      // create, or write from the start without emptying
inline constexpr int FILE_TYPE_BINARY = 0;      // untranslated: "\n" stays one byte
inline constexpr int FILE_TYPE_ASCII = 1;

class FileService {
public:
    virtual ~FileService() = default;
    // 1 and the size when `name` is an existing regular file, 0 when nothing is there,
    // negative when it cannot be examined or is not a regular file.
    virtual int GetFileInfo(const std::string& name, long long* size) = 0;
    // As GetFileInfo, plus the time of the last change in nanoseconds (0 when there is no
    // file): enough to tell whether a file was written since it was last read.
    virtual int GetFileStamp(const std::string& name, long long* size, long long* modifiedNs) = 0;
    // A handle (>= 0) or -1. Never buffered: each CVI_WriteFile reaches the file at once.
    virtual int CVI_OpenFile(const std::string& name, int access, int action, int type) = 0;
    // The number of bytes written: all of them, or -1 when none could be. A write the disk
    // cuts short is taken back (the file keeps its old end) and reports 0.
    virtual long long CVI_WriteFile(int handle, const char* buffer, long long count) = 0;
    virtual int CVI_CloseFile(int handle) = 0;
    // The system's reason for the latest call that failed ("No space left on device"), or
    // "" when none has.
    virtual std::string LastErrorText() const = 0;
};

#ifndef _WIN32
class PosixFiles : public FileService {
public:
    int GetFileInfo(const std::string& name, long long* size) override;
    int GetFileStamp(const std::string& name, long long* size, long long* modifiedNs) override;
    int CVI_OpenFile(const std::string& name, int access, int action, int type) override;
    long long CVI_WriteFile(int handle, const char* buffer, long long count) override;
    int CVI_CloseFile(int handle) override;
    std::string LastErrorText() const override;

private:
    int failed(int err);
    int lastErrno_ = 0;
};
using NativeFiles = PosixFiles;
#else
// Files on Windows: names are UTF-8, opened with CreateFileW and shared for reading and
// writing, so a spreadsheet can open the log while the program adds to it. A handle is a
// C run-time descriptor over the Win32 handle. Line ends are never translated.
class Win32Files : public FileService {
public:
    int GetFileInfo(const std::string& name, long long* size) override;
    int GetFileStamp(const std::string& name, long long* size, long long* modifiedNs) override;
    int CVI_OpenFile(const std::string& name, int access, int action, int type) override;
    long long CVI_WriteFile(int handle, const char* buffer, long long count) override;
    int CVI_CloseFile(int handle) override;
    std::string LastErrorText() const override;

private:
    int failed(unsigned long err);
    unsigned long lastError_ = 0;
    std::set<int> appending_;  // the handles opened to append
};
using NativeFiles = Win32Files;
#endif

// A file the user chose to open, read whole. Only a regular file is read, and only up to a
// size: a named pipe's open waits for a writer and its reading for the writer's end, and a
// device may never end, so either would hold the program; such a file is refused from a
// look at it (stat) before it is opened, and the open cannot wait should a pipe take the
// file's place meanwhile.
struct WholeFile {
    enum class Result { Read, NotRegular, TooLarge, Unreadable };
    Result result = Result::Unreadable;
    std::string text;    // the contents, when read
    long long size = 0;  // the file's size in bytes (when too large, the size found)
    // NotRegular: what it is instead ("a named pipe"); Unreadable: the system's reason.
    std::string why;
};
WholeFile ReadWholeFile(const std::string& name, long long limit);

// "MM-DD-YYYY" and "HH:MM:SS" (24 h) of the clock's local wall time.
std::string DateStr(const Clock& clock);
std::string TimeStr(const Clock& clock);

// Compares s1 from index i1 with s2 from index i2: 0 when equal, <0 or >0 like strcmp.
// caseSensitive 0 compares ASCII letters without regard to case.
int CompareStrings(const std::string& s1, int i1, const std::string& s2, int i2, int caseSensitive);

}  // namespace vek::platform
