// Serial ports on the Win32 communications calls: a synchronous handle on \\.\COMn, the
// line set with SetCommState, and every wait bounded by SetCommTimeouts, so nothing here
// can spin or hang past its time-out. The program's link engine polls GetInQLen from its
// timers on the window's thread; no call here starts a thread.
#pragma once
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "rs232.h"

namespace vek::platform {

// The line settings of a raw line built on `base` (what the device has now): speed, parity
// (an RS_PARITY_ code), data and stop bits, binary, no flow control of any kind, DTR and
// RTS raised (a port-powered RS-485 adapter needs them), no abort on a line error. nullopt
// for settings no line takes.
std::optional<DCB> LineDcb(DCB base, long baud, int parity, int dataBits, int stopBits);

// The name CreateFileW opens for a device path: "COM12" becomes \\.\COM12 (the only form
// that reaches ports past COM9), a path already in the device namespace stays as it is.
std::wstring Win32DeviceName(const std::string& path);

// UTF-8 to UTF-16 and back (file names and the system's messages).
std::wstring WideOf(const std::string& utf8);
std::string Utf8Of(const std::wstring& wide);

// The system's text for a Win32 error code, one line, without its final full stop.
std::string Win32ErrorText(DWORD err);

// True for the errors a port reports once its device has gone (an unplugged USB adapter).
bool Win32DeviceGoneError(DWORD err);

class Win32Rs232 : public Rs232 {
public:
    Win32Rs232() = default;
    ~Win32Rs232() override;
    Win32Rs232(const Win32Rs232&) = delete;
    Win32Rs232& operator=(const Win32Rs232&) = delete;

    int OpenComConfig(int port, const std::string& deviceName, long baud, int parity, int dataBits, int stopBits,
                      int inputQueueSize, int outputQueueSize) override;
    int CloseCom(int port) override;
    int ClaimCom(int port) override;
    int ReleaseCom(int port) override;
    int ComWrtByte(int port, int byte) override;
    int ComWrt(int port, const std::uint8_t* buffer, int count) override;
    int ComRd(int port, std::uint8_t* buffer, int count) override;
    int ComPeek(int port, std::uint8_t* buffer, int count) override;
    int GetInQLen(int port) override;
    int SetComTime(int port, double seconds) override;
    int ReturnRS232Err() override { return lastError_; }
    std::string GetRS232ErrorString(int code) override;
    std::string DevicePath(int port) const override;

private:
    // How ReadFile waits: not at all (take what waits), or up to a number of milliseconds
    // for the whole count.
    enum class ReadMode { Unset, NoWait, Wait };
    struct Port {
        HANDLE h = INVALID_HANDLE_VALUE;
        std::string path;
        double timeout = 0.5;
        ReadMode mode = ReadMode::Unset;
        DWORD modeMs = 0;
        // Bytes taken from the device by ComPeek and not yet by ComRd: a read consumes, so
        // they wait here, first in the queue.
        std::vector<std::uint8_t> ahead;
        // While claimed: the line settings and time-outs the device had when ClaimCom took it.
        std::optional<DCB> claimedFrom;
        COMMTIMEOUTS claimedTimeouts{};
    };
    int ok(int result = 0);
    int fail(int code, const std::string& detail);
    int failWin32(int code, const Port& p, DWORD err);
    // The code for a failed call on an open port: gone or a system error.
    int failCall(const Port& p, DWORD err);
    // Sets the read and write time-outs for the next ReadFile; false (with the error) on failure.
    bool setReadMode(Port& p, ReadMode mode, DWORD ms, DWORD& err);
    // True when the port's device no longer answers (ClearCommError fails as for a device gone).
    bool gone(const Port& p) const;
    int openDevice(int port, const std::string& path, int busyCode);
    int claimDevice(Port& p);
    DWORD releaseDevice(Port& p);
    void closePort(int port);

    std::map<int, Port> ports_;
    int lastError_ = 0;
    std::string lastDetail_;
};
using NativeRs232 = Win32Rs232;

}  // namespace vek::platform
