// Serial ports on the Win32 communications calls: a synchronous handle on \\.\COMn, the
// line set with SetCommState, and every wait bounded by SetCommTimeouts, so nothing here
// can spin or hang past its time-out. The program's link engine polls GetInQLen from its
// timers on the window's thread; no call here starts a thread.
#pragma once
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <optional>
#include <string>

#include "rs232_ports.h"

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

// How ReadFile waits: not at all (take what waits), or up to a number of milliseconds for
// the whole count.
enum class Win32ReadMode { Unset, NoWait, Wait };

// The handle of an open communications device, the time-outs it has now, and while the port
// is claimed the line settings and time-outs the device had when ClaimCom took it.
struct Win32Device {
    HANDLE h = INVALID_HANDLE_VALUE;
    Win32ReadMode mode = Win32ReadMode::Unset;
    DWORD modeMs = 0;
    std::optional<DCB> claimedFrom;
    COMMTIMEOUTS claimedTimeouts{};
};

class Win32Rs232 : public Rs232Ports<Win32Device> {
public:
    Win32Rs232() = default;
    ~Win32Rs232() override;
    Win32Rs232(const Win32Rs232&) = delete;
    Win32Rs232& operator=(const Win32Rs232&) = delete;

private:
    bool settingsValid(long baud, int parity, int dataBits, int stopBits) const override;
    int openDevice(Port& p, int busyCode) override;
    void closeDevice(Port& p) override;
    // ClearCommError fails as it does for a device that has gone.
    bool deviceGone(const Port& p) const override;
    bool namesAnotherDevice(const Port& p, const std::string& path) const override;
    // The handle is this program's alone already (opened without sharing): the claim only
    // remembers what to give back.
    int claimDevice(Port& p) override;
    std::optional<SystemError> releaseDevice(Port& p) override;
    std::optional<DeviceFailure> configureDevice(Port& p, long baud, int parity, int dataBits, int stopBits,
                                                 int inputQueueSize, int outputQueueSize) override;
    int writeDevice(Port& p, const std::uint8_t* buffer, int count) override;
    std::optional<DeviceFailure> readDevice(Port& p, std::uint8_t* buffer, int count, int& got) override;
    std::optional<DeviceFailure> fillAhead(Port& p, int count) override;
    int waitingBytes(Port& p) override;
    // The write time-out is set with the next read mode.
    void timeoutChanged(Port& p) override { p.dev.mode = Win32ReadMode::Unset; }
    // Sets the read and write time-outs for the next ReadFile; false (with the error) on failure.
    bool setReadMode(Port& p, Win32ReadMode mode, DWORD ms, DWORD& err);
};
using NativeRs232 = Win32Rs232;

}  // namespace vek::platform
