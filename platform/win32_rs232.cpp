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
    while (!text.empty() &&
           (text.back() == L' ' || text.back() == L'.' || text.back() == L'\r' || text.back() == L'\n'))
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

namespace {

SystemError systemError(DWORD err) { return {Win32DeviceGoneError(err), Win32ErrorText(err)}; }

DeviceFailure failedCall(int code, DWORD err) { return {code, systemError(err)}; }

}  // namespace

Win32Rs232::~Win32Rs232() { closeAll(); }

bool Win32Rs232::settingsValid(long baud, int parity, int dataBits, int stopBits) const
{
    return LineDcb(DCB{}, baud, parity, dataBits, stopBits).has_value();
}

bool Win32Rs232::deviceGone(const Port& p) const
{
    DWORD errors = 0;
    COMSTAT stat{};
    if (::ClearCommError(p.dev.h, &errors, &stat))
        return false;
    return Win32DeviceGoneError(::GetLastError());
}

bool Win32Rs232::namesAnotherDevice(const Port& p, const std::string& path) const { return path != p.path; }

bool Win32Rs232::setReadMode(Port& p, Win32ReadMode mode, DWORD ms, DWORD& err)
{
    Win32Device& d = p.dev;
    if (d.mode == mode && (mode == Win32ReadMode::NoWait || d.modeMs == ms))
        return true;
    COMMTIMEOUTS t{};
    if (mode == Win32ReadMode::NoWait) {
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
    if (!::SetCommTimeouts(d.h, &t)) {
        err = ::GetLastError();
        d.mode = Win32ReadMode::Unset;
        return false;
    }
    d.mode = mode;
    d.modeMs = ms;
    return true;
}

void Win32Rs232::closeDevice(Port& p)
{
    if (p.dev.h != INVALID_HANDLE_VALUE)
        ::CloseHandle(p.dev.h);
    p.dev.h = INVALID_HANDLE_VALUE;
}

int Win32Rs232::openDevice(Port& p, int busyCode)
{
    // No sharing: a communications device is this program's alone while it is open.
    p.dev.h = ::CreateFileW(Win32DeviceName(p.path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
    if (p.dev.h == INVALID_HANDLE_VALUE) {
        const DWORD err = ::GetLastError();
        // Another program has the port open: Windows refuses a second open so.
        const bool busy = err == ERROR_ACCESS_DENIED || err == ERROR_SHARING_VIOLATION;
        return failSystem(busy ? busyCode : RS_ERR_CANNOT_OPEN, p, {false, Win32ErrorText(err)});
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (::GetFileType(p.dev.h) != FILE_TYPE_CHAR || !::GetCommState(p.dev.h, &dcb)) {
        closeDevice(p);
        return failNotSerial(p);
    }
    return 0;
}

int Win32Rs232::claimDevice(Port& p)
{
    DCB before{};
    before.DCBlength = sizeof before;
    COMMTIMEOUTS timeouts{};
    if (!::GetCommState(p.dev.h, &before) || !::GetCommTimeouts(p.dev.h, &timeouts))
        return failSystem(RS_ERR_SYSTEM, p, systemError(::GetLastError()));
    p.dev.claimedFrom = before;
    p.dev.claimedTimeouts = timeouts;
    return 0;
}

std::optional<SystemError> Win32Rs232::releaseDevice(Port& p)
{
    Win32Device& d = p.dev;
    if (!d.claimedFrom)
        return std::nullopt;
    // What the visit left queued goes, then the settings go back.
    ::PurgeComm(d.h, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR);
    DWORD err = 0;
    if (!::SetCommState(d.h, &*d.claimedFrom))
        err = ::GetLastError();
    if (!::SetCommTimeouts(d.h, &d.claimedTimeouts) && err == 0)
        err = ::GetLastError();
    d.mode = Win32ReadMode::Unset;
    d.claimedFrom.reset();
    if (err != 0)
        return systemError(err);
    return std::nullopt;
}

std::optional<DeviceFailure> Win32Rs232::configureDevice(Port& p, long baud, int parity, int dataBits, int stopBits,
                                                         int inputQueueSize, int outputQueueSize)
{
    Win32Device& d = p.dev;
    if (inputQueueSize > 0 && outputQueueSize > 0)
        ::SetupComm(d.h, static_cast<DWORD>(inputQueueSize), static_cast<DWORD>(outputQueueSize));
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(d.h, &dcb))
        return failedCall(RS_ERR_BAD_SETTINGS, ::GetLastError());
    dcb = *LineDcb(dcb, baud, parity, dataBits, stopBits);
    if (!::SetCommState(d.h, &dcb))
        return failedCall(RS_ERR_BAD_SETTINGS, ::GetLastError());
    d.mode = Win32ReadMode::Unset;
    DWORD err = 0;
    if (!setReadMode(p, Win32ReadMode::NoWait, 0, err))
        return failedCall(RS_ERR_SYSTEM, err);
    ::PurgeComm(d.h, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR);
    DWORD errors = 0;
    ::ClearCommError(d.h, &errors, nullptr);
    return std::nullopt;
}

int Win32Rs232::writeDevice(Port& p, const std::uint8_t* buffer, int count)
{
    DWORD err = 0;
    // The write time-out goes with every read mode: set it if the port has none yet.
    if (p.dev.mode == Win32ReadMode::Unset && !setReadMode(p, Win32ReadMode::NoWait, 0, err))
        return failSystem(RS_ERR_SYSTEM, p, systemError(err));
    // One WriteFile for the whole frame: the driver sends it without a gap of ours inside.
    DWORD sent = 0;
    if (!::WriteFile(p.dev.h, buffer, static_cast<DWORD>(count), &sent, nullptr))
        return failSystem(RS_ERR_SYSTEM, p, systemError(::GetLastError()));
    if (static_cast<int>(sent) < count)
        return fail(RS_ERR_TIMEOUT, Rs232ErrorText(RS_ERR_TIMEOUT) + ": " + p.path + " (write)");
    return static_cast<int>(sent);
}

std::optional<DeviceFailure> Win32Rs232::readDevice(Port& p, std::uint8_t* buffer, int count, int& got)
{
    got = 0;
    // The driver waits for the rest: ReadFile returns with all of it, or at the time-out
    // with what came.
    DWORD err = 0;
    const DWORD ms = millisecondsOf(p.timeout);
    if (!setReadMode(p, ms > 0 ? Win32ReadMode::Wait : Win32ReadMode::NoWait, ms, err))
        return failedCall(RS_ERR_SYSTEM, err);
    DWORD n = 0;
    if (!::ReadFile(p.dev.h, buffer, static_cast<DWORD>(count), &n, nullptr))
        return failedCall(RS_ERR_SYSTEM, ::GetLastError());
    got = static_cast<int>(n);
    if (got >= count)
        return std::nullopt;
    // Nothing at all within the time-out from a port whose device went away reads as gone,
    // not as a slave that said nothing.
    if (n == 0 && deviceGone(p))
        return DeviceFailure{RS_ERR_DEVICE_GONE, std::nullopt};
    return DeviceFailure{RS_ERR_TIMEOUT, std::nullopt};
}

std::optional<DeviceFailure> Win32Rs232::fillAhead(Port& p, int count)
{
    // Take what waits into the read-ahead, without waiting for more.
    DWORD err = 0;
    DWORD errors = 0;
    COMSTAT stat{};
    const bool cleared = ::ClearCommError(p.dev.h, &errors, &stat);
    if (!cleared)
        err = ::GetLastError();
    const DWORD want = static_cast<DWORD>(count - static_cast<int>(p.ahead.size()));
    if (cleared && stat.cbInQue > 0 && setReadMode(p, Win32ReadMode::NoWait, 0, err)) {
        std::vector<std::uint8_t> chunk(std::min<DWORD>(want, stat.cbInQue));
        DWORD n = 0;
        if (::ReadFile(p.dev.h, chunk.data(), static_cast<DWORD>(chunk.size()), &n, nullptr))
            p.ahead.insert(p.ahead.end(), chunk.begin(), chunk.begin() + n);
        else
            err = ::GetLastError();
    }
    if (err != 0)
        return failedCall(RS_ERR_SYSTEM, err);
    return std::nullopt;
}

int Win32Rs232::waitingBytes(Port& p)
{
    // ClearCommError tells what waits and clears a line error (framing, parity, overrun),
    // which the reply's checks judge anyway; it fails once the device has gone.
    DWORD errors = 0;
    COMSTAT stat{};
    if (!::ClearCommError(p.dev.h, &errors, &stat)) {
        const DWORD err = ::GetLastError();
        if (!p.ahead.empty())
            return static_cast<int>(p.ahead.size());
        return failSystem(RS_ERR_SYSTEM, p, systemError(err));
    }
    return static_cast<int>(stat.cbInQue) + static_cast<int>(p.ahead.size());
}

}  // namespace vek::platform
