#include "win32_rs232.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>

namespace vek::platform {

std::wstring WideOf(const std::string& utf8)
{
    if (utf8.empty())
        return {};
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(std::max(n, 0)), L'\0');
    if (n > 0)
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), w.data(), n);
    return w;
}

std::string Utf8Of(const std::wstring& wide)
{
    if (wide.empty())
        return {};
    const int n =
        ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<std::size_t>(std::max(n, 0)), '\0');
    if (n > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), s.data(), n, nullptr, nullptr);
    return s;
}

std::string Win32ErrorText(DWORD err)
{
    wchar_t* buf = nullptr;
    const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                         FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                                     nullptr, err, 0, reinterpret_cast<wchar_t*>(&buf), 0, nullptr);
    std::wstring text = n && buf ? std::wstring(buf, n) : std::wstring();
    if (buf)
        ::LocalFree(buf);
    while (!text.empty() && (text.back() == L' ' || text.back() == L'.' || text.back() == L'\r' || text.back() == L'\n'))
        text.pop_back();
    if (text.empty())
        return "system error " + std::to_string(err);
    return Utf8Of(text);
}

bool Win32DeviceGoneError(DWORD err)
{
    switch (err) {
    case ERROR_ACCESS_DENIED:  // a USB serial driver answers a removed device so
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_OPERATION_ABORTED:
    case ERROR_INVALID_HANDLE:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_NOT_READY:
    case ERROR_BROKEN_PIPE: return true;
    default: return false;
    }
}

namespace {

bool isComName(const std::string& path)
{
    if (path.size() < 4 || path.size() > 6 || (path.compare(0, 3, "COM") != 0 && path.compare(0, 3, "com") != 0))
        return false;
    return std::all_of(path.begin() + 3, path.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The name QueryDosDeviceW knows a device by: "COM3" for COM3 and \\.\COM3 alike.
std::wstring dosNameOf(const std::string& path)
{
    std::string name = path;
    if (name.rfind("\\\\.\\", 0) == 0)
        name = name.substr(4);
    return WideOf(name);
}

bool supportedBaud(long baud)
{
    switch (baud) {
    case 1200:
    case 2400:
    case 4800:
    case 9600:
    case 19200:
    case 38400:
    case 57600:
    case 115200: return true;
    default: return false;
    }
}

DWORD millisecondsOf(double seconds)
{
    if (!(seconds > 0))
        return 0;
    const double ms = std::ceil(seconds * 1000.0);
    return ms >= 4.0e9 ? 4000000000u : static_cast<DWORD>(ms);
}

}  // namespace

std::wstring Win32DeviceName(const std::string& path)
{
    if (isComName(path))
        return L"\\\\.\\" + WideOf(path);
    return WideOf(path);
}

std::string ResolveComPort(int port)
{
    if (port < 1 || port > 99)
        return {};
    const std::string var = "VEK_COM" + std::to_string(port);
    if (const char* v = std::getenv(var.c_str()); v && *v)
        return v;
    return "COM" + std::to_string(port);
}

bool DeviceExists(const std::string& path)
{
    if (path.empty())
        return false;
    // The system's list of devices: what the serial drivers made, a port plugged in now.
    wchar_t target[1024];
    if (::QueryDosDeviceW(dosNameOf(path).c_str(), target, static_cast<DWORD>(std::size(target))) != 0)
        return true;
    // A name not in it (another namespace, a file standing in for a device) is there when
    // the system finds it.
    return !isComName(path) && ::GetFileAttributesW(Win32DeviceName(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool ComPortPresent(int port) { return DeviceExists(ResolveComPort(port)); }

std::optional<DCB> LineDcb(DCB base, long baud, int parity, int dataBits, int stopBits)
{
    if (!supportedBaud(baud) || parity < RS_PARITY_NONE || parity > RS_PARITY_EVEN || dataBits < 5 || dataBits > 8 ||
        stopBits < 1 || stopBits > 2)
        return std::nullopt;
    DCB dcb = base;
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = static_cast<DWORD>(baud);
    dcb.ByteSize = static_cast<BYTE>(dataBits);
    dcb.Parity = parity == RS_PARITY_EVEN ? EVENPARITY : parity == RS_PARITY_ODD ? ODDPARITY : NOPARITY;
    dcb.fParity = parity != RS_PARITY_NONE;
    dcb.StopBits = stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
    // Nothing an earlier setting (or whoever used the device before) left may survive.
    dcb.fBinary = TRUE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    // A framing or parity error must not stop the port until ClearCommError: the reply's
    // CRC judges the bytes.
    dcb.fAbortOnError = FALSE;
    return dcb;
}

Win32Rs232::~Win32Rs232()
{
    while (!ports_.empty())
        closePort(ports_.begin()->first);
}

int Win32Rs232::ok(int result)
{
    lastError_ = 0;
    lastDetail_.clear();
    return result;
}

int Win32Rs232::fail(int code, const std::string& detail)
{
    lastError_ = code;
    lastDetail_ = detail;
    return code;
}

int Win32Rs232::failWin32(int code, const Port& p, DWORD err)
{
    return fail(code, Rs232ErrorText(code) + ": " + p.path + " (" + Win32ErrorText(err) + ")");
}

int Win32Rs232::failCall(const Port& p, DWORD err)
{
    return failWin32(Win32DeviceGoneError(err) ? RS_ERR_DEVICE_GONE : RS_ERR_SYSTEM, p, err);
}

bool Win32Rs232::gone(const Port& p) const
{
    DWORD errors = 0;
    COMSTAT stat{};
    if (::ClearCommError(p.h, &errors, &stat))
        return false;
    return Win32DeviceGoneError(::GetLastError());
}

bool Win32Rs232::setReadMode(Port& p, ReadMode mode, DWORD ms, DWORD& err)
{
    if (p.mode == mode && (mode == ReadMode::NoWait || p.modeMs == ms))
        return true;
    COMMTIMEOUTS t{};
    if (mode == ReadMode::NoWait) {
        // Return at once with whatever waits, nothing included.
        t.ReadIntervalTimeout = MAXDWORD;
        t.ReadTotalTimeoutMultiplier = 0;
        t.ReadTotalTimeoutConstant = 0;
    } else {
        // Wait for the whole count, no longer than `ms` in all.
        t.ReadIntervalTimeout = 0;
        t.ReadTotalTimeoutMultiplier = 0;
        t.ReadTotalTimeoutConstant = std::max<DWORD>(ms, 1);
    }
    t.WriteTotalTimeoutMultiplier = 0;
    t.WriteTotalTimeoutConstant = std::max<DWORD>(millisecondsOf(p.timeout), 1);
    if (!::SetCommTimeouts(p.h, &t)) {
        err = ::GetLastError();
        p.mode = ReadMode::Unset;
        return false;
    }
    p.mode = mode;
    p.modeMs = ms;
    return true;
}

void Win32Rs232::closePort(int port)
{
    auto it = ports_.find(port);
    if (it == ports_.end())
        return;
    releaseDevice(it->second);
    if (it->second.h != INVALID_HANDLE_VALUE)
        ::CloseHandle(it->second.h);
    ports_.erase(it);
}

int Win32Rs232::openDevice(int port, const std::string& path, int busyCode)
{
    Port p;
    p.path = path;
    // No sharing: a communications device is this program's alone while it is open.
    p.h = ::CreateFileW(Win32DeviceName(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (p.h == INVALID_HANDLE_VALUE) {
        const DWORD err = ::GetLastError();
        // Another program has the port open: Windows refuses a second open so.
        const bool busy = err == ERROR_ACCESS_DENIED || err == ERROR_SHARING_VIOLATION;
        return failWin32(busy ? busyCode : RS_ERR_CANNOT_OPEN, p, err);
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (::GetFileType(p.h) != FILE_TYPE_CHAR || !::GetCommState(p.h, &dcb)) {
        ::CloseHandle(p.h);
        return fail(RS_ERR_CANNOT_OPEN, Rs232ErrorText(RS_ERR_CANNOT_OPEN) + ": " + p.path + " is not a serial device");
    }
    ports_.emplace(port, p);
    return ok();
}

int Win32Rs232::claimDevice(Port& p)
{
    // The handle is already this program's alone (opened without sharing): the claim only
    // remembers what to give back.
    DCB before{};
    before.DCBlength = sizeof before;
    COMMTIMEOUTS timeouts{};
    if (!::GetCommState(p.h, &before) || !::GetCommTimeouts(p.h, &timeouts))
        return failCall(p, ::GetLastError());
    p.claimedFrom = before;
    p.claimedTimeouts = timeouts;
    return ok();
}

DWORD Win32Rs232::releaseDevice(Port& p)
{
    if (!p.claimedFrom)
        return 0;
    // What the visit left queued is nobody else's business; then the settings go back.
    ::PurgeComm(p.h, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR);
    p.ahead.clear();
    DWORD err = 0;
    if (!::SetCommState(p.h, &*p.claimedFrom))
        err = ::GetLastError();
    if (!::SetCommTimeouts(p.h, &p.claimedTimeouts) && err == 0)
        err = ::GetLastError();
    p.mode = ReadMode::Unset;
    p.claimedFrom.reset();
    return err;
}

int Win32Rs232::ClaimCom(int port)
{
    if (port < 1 || port > 99)
        return fail(RS_ERR_INVALID_PORT, "Invalid port number: COM" + std::to_string(port));
    const std::string path = ResolveComPort(port);
    auto it = ports_.find(port);
    if (it != ports_.end() && it->second.claimedFrom)
        return ok();
    if (it != ports_.end() && (gone(it->second) || it->second.path != path))
        closePort(port);
    const bool wasOpen = ports_.count(port) != 0;
    if (!wasOpen) {
        if (const int rc = openDevice(port, path, RS_ERR_BUSY); rc < 0)
            return rc;
    }
    if (const int rc = claimDevice(ports_.at(port)); rc < 0) {
        if (!wasOpen)
            closePort(port);
        return rc;
    }
    return ok();
}

int Win32Rs232::ReleaseCom(int port)
{
    auto it = ports_.find(port);
    if (it == ports_.end())
        return fail(RS_ERR_NOT_OPEN, Rs232ErrorText(RS_ERR_NOT_OPEN) + ": COM" + std::to_string(port));
    if (const DWORD err = releaseDevice(it->second); err != 0)
        return failCall(it->second, err);
    return ok();
}

std::string Win32Rs232::DevicePath(int port) const
{
    auto it = ports_.find(port);
    return it == ports_.end() ? std::string() : it->second.path;
}

int Win32Rs232::OpenComConfig(int port, const std::string& /*deviceName*/, long baud, int parity, int dataBits,
                              int stopBits, int inputQueueSize, int outputQueueSize)
{
    if (port < 1 || port > 99)
        return fail(RS_ERR_INVALID_PORT, "Invalid port number: COM" + std::to_string(port));
    if (!LineDcb(DCB{}, baud, parity, dataBits, stopBits))
        return fail(RS_ERR_BAD_SETTINGS, Rs232ErrorText(RS_ERR_BAD_SETTINGS) + ": " + std::to_string(baud) + " baud, " +
                                             std::to_string(dataBits) + " data bits, " + std::to_string(stopBits) +
                                             " stop bits, parity " + std::to_string(parity));

    // An adapter plugged back in is a new device behind the same name, and VEK_COMn may name
    // another device now: either way the open handle is dropped and COMn opened afresh.
    const std::string path = ResolveComPort(port);
    auto it = ports_.find(port);
    bool claimed = it != ports_.end() && it->second.claimedFrom;
    if (it != ports_.end() && (gone(it->second) || it->second.path != path))
        closePort(port);

    for (int attempt = 0; attempt < 2; ++attempt) {
        it = ports_.find(port);
        if (it == ports_.end()) {
            if (const int rc = openDevice(port, path, claimed ? RS_ERR_BUSY : RS_ERR_CANNOT_OPEN); rc < 0)
                return rc;
            it = ports_.find(port);
            if (claimed) {
                if (const int rc = claimDevice(it->second); rc < 0) {
                    ::CloseHandle(it->second.h);
                    ports_.erase(it);
                    return rc;
                }
            }
        }
        Port& p = it->second;
        if (inputQueueSize > 0 && outputQueueSize > 0)
            ::SetupComm(p.h, static_cast<DWORD>(inputQueueSize), static_cast<DWORD>(outputQueueSize));
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        DWORD err = 0;
        bool set = ::GetCommState(p.h, &dcb);
        if (set) {
            dcb = *LineDcb(dcb, baud, parity, dataBits, stopBits);
            set = ::SetCommState(p.h, &dcb);
        }
        if (!set) {
            err = ::GetLastError();
            if (Win32DeviceGoneError(err) && attempt == 0) {
                claimed = claimed || p.claimedFrom;
                closePort(port);
                continue;
            }
            const int rc = failWin32(Win32DeviceGoneError(err) ? RS_ERR_DEVICE_GONE : RS_ERR_BAD_SETTINGS, p, err);
            closePort(port);
            return rc;
        }
        p.mode = ReadMode::Unset;
        if (!setReadMode(p, ReadMode::NoWait, 0, err)) {
            const int rc = failCall(p, err);
            closePort(port);
            return rc;
        }
        // Whatever arrived late for an earlier request must never be taken as the next reply.
        ::PurgeComm(p.h, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR);
        DWORD errors = 0;
        ::ClearCommError(p.h, &errors, nullptr);
        p.ahead.clear();
        return ok();
    }
    return fail(RS_ERR_CANNOT_OPEN, Rs232ErrorText(RS_ERR_CANNOT_OPEN) + ": COM" + std::to_string(port));
}

int Win32Rs232::CloseCom(int port)
{
    if (ports_.find(port) == ports_.end())
        return fail(RS_ERR_NOT_OPEN, Rs232ErrorText(RS_ERR_NOT_OPEN) + ": COM" + std::to_string(port));
    closePort(port);
    return ok();
}

int Win32Rs232::ComWrtByte(int port, int byte)
{
    const std::uint8_t b = static_cast<std::uint8_t>(byte);
    const int rc = ComWrt(port, &b, 1);
    return rc == 1 ? b : rc;
}

int Win32Rs232::ComWrt(int port, const std::uint8_t* buffer, int count)
{
    auto it = ports_.find(port);
    if (it == ports_.end())
        return fail(RS_ERR_NOT_OPEN, Rs232ErrorText(RS_ERR_NOT_OPEN) + ": COM" + std::to_string(port));
    Port& p = it->second;
    if (count <= 0)
        return ok(0);
    DWORD err = 0;
    // The write time-out goes with every read mode: set it if the port has none yet.
    if (p.mode == ReadMode::Unset && !setReadMode(p, ReadMode::NoWait, 0, err))
        return failCall(p, err);
    // One WriteFile for the whole frame: the driver sends it without a gap of ours inside.
    DWORD sent = 0;
    if (!::WriteFile(p.h, buffer, static_cast<DWORD>(count), &sent, nullptr))
        return failCall(p, ::GetLastError());
    if (static_cast<int>(sent) < count)
        return fail(RS_ERR_TIMEOUT, Rs232ErrorText(RS_ERR_TIMEOUT) + ": " + p.path + " (write)");
    return ok(static_cast<int>(sent));
}

int Win32Rs232::ComRd(int port, std::uint8_t* buffer, int count)
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
    if (got >= count)
        return ok(got);
    // The driver waits for the rest: ReadFile returns with all of it, or at the time-out
    // with what came.
    DWORD err = 0;
    const DWORD ms = millisecondsOf(p.timeout);
    if (!setReadMode(p, ms > 0 ? ReadMode::Wait : ReadMode::NoWait, ms, err)) {
        failCall(p, err);
        return got > 0 ? got : lastError_;
    }
    DWORD n = 0;
    if (!::ReadFile(p.h, buffer + got, static_cast<DWORD>(count - got), &n, nullptr)) {
        failCall(p, ::GetLastError());
        return got > 0 ? got : lastError_;
    }
    got += static_cast<int>(n);
    if (got < count) {
        // Nothing at all within the time-out from a port whose device went away reads as
        // gone, not as a slave that said nothing.
        if (n == 0 && gone(p)) {
            fail(RS_ERR_DEVICE_GONE, Rs232ErrorText(RS_ERR_DEVICE_GONE) + ": " + p.path);
            return got > 0 ? got : lastError_;
        }
        fail(RS_ERR_TIMEOUT, Rs232ErrorText(RS_ERR_TIMEOUT) + ": " + p.path + " (" + std::to_string(got) + " of " +
                                 std::to_string(count) + " bytes)");
        return got;
    }
    return ok(got);
}

int Win32Rs232::ComPeek(int port, std::uint8_t* buffer, int count)
{
    auto it = ports_.find(port);
    if (it == ports_.end())
        return fail(RS_ERR_NOT_OPEN, Rs232ErrorText(RS_ERR_NOT_OPEN) + ": COM" + std::to_string(port));
    Port& p = it->second;
    if (static_cast<int>(p.ahead.size()) < count) {
        // Take what waits into the read-ahead, without waiting for more.
        DWORD err = 0;
        DWORD errors = 0;
        COMSTAT stat{};
        const bool cleared = ::ClearCommError(p.h, &errors, &stat);
        if (!cleared)
            err = ::GetLastError();
        const DWORD want = static_cast<DWORD>(count - static_cast<int>(p.ahead.size()));
        if (cleared && stat.cbInQue > 0 && setReadMode(p, ReadMode::NoWait, 0, err)) {
            std::vector<std::uint8_t> chunk(std::min<DWORD>(want, stat.cbInQue));
            DWORD n = 0;
            if (::ReadFile(p.h, chunk.data(), static_cast<DWORD>(chunk.size()), &n, nullptr))
                p.ahead.insert(p.ahead.end(), chunk.begin(), chunk.begin() + n);
            else
                err = ::GetLastError();
        }
        // Failed: what was taken can still be read; the error shows once nothing is left.
        if (err != 0 && p.ahead.empty())
            return failCall(p, err);
    }
    const int n = std::max(0, std::min(count, static_cast<int>(p.ahead.size())));
    std::copy_n(p.ahead.begin(), n, buffer);
    return ok(n);
}

int Win32Rs232::GetInQLen(int port)
{
    auto it = ports_.find(port);
    if (it == ports_.end())
        return fail(RS_ERR_NOT_OPEN, Rs232ErrorText(RS_ERR_NOT_OPEN) + ": COM" + std::to_string(port));
    Port& p = it->second;
    // ClearCommError tells what waits and clears a line error (framing, parity, overrun),
    // which the reply's checks judge anyway; it fails once the device has gone.
    DWORD errors = 0;
    COMSTAT stat{};
    if (!::ClearCommError(p.h, &errors, &stat)) {
        const DWORD err = ::GetLastError();
        if (!p.ahead.empty())
            return ok(static_cast<int>(p.ahead.size()));
        return failCall(p, err);
    }
    return ok(static_cast<int>(stat.cbInQue) + static_cast<int>(p.ahead.size()));
}

int Win32Rs232::SetComTime(int port, double seconds)
{
    auto it = ports_.find(port);
    if (it == ports_.end())
        return fail(RS_ERR_NOT_OPEN, Rs232ErrorText(RS_ERR_NOT_OPEN) + ": COM" + std::to_string(port));
    it->second.timeout = seconds > 0 ? seconds : 0;
    // The write time-out is set with the next read mode.
    it->second.mode = ReadMode::Unset;
    return ok();
}

std::string Win32Rs232::GetRS232ErrorString(int code)
{
    if (code != 0 && code == lastError_ && !lastDetail_.empty())
        return lastDetail_;
    return Rs232ErrorText(code);
}

}  // namespace vek::platform
