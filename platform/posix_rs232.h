// Serial ports on POSIX termios: raw mode, 8N1-style settings, non-blocking descriptors
// waited on with poll(), so nothing here can spin or hang past its time-out.
#pragma once
#include <termios.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "rs232.h"

namespace vek::platform {

// The attributes of a raw line at the given settings, built on `base` (what the device
// has now): speed, parity (an RS_PARITY_ code), data and stop bits, no flow control, and
// a read returns what waits. nullopt for settings no line takes.
std::optional<termios> LineTermios(termios base, long baud, int parity, int dataBits, int stopBits);

class PosixRs232 : public Rs232 {
public:
    PosixRs232() = default;
    ~PosixRs232() override;
    PosixRs232(const PosixRs232&) = delete;
    PosixRs232& operator=(const PosixRs232&) = delete;

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
    struct Port {
        int fd = -1;
        std::string path;
        double timeout = 0.5;
        // Bytes taken from the device by ComPeek and not yet by ComRd: a terminal cannot be
        // read without consuming, so they wait here, first in the queue.
        std::vector<std::uint8_t> ahead;
        // While claimed: the line settings the device had when ClaimCom took it.
        std::optional<termios> claimedFrom;
    };
    int ok(int result = 0);
    int fail(int code, const std::string& detail);
    int failErrno(int code, const Port& p, int err);
    bool hungUp(const Port& p) const;
    // True when `path` (what COMn resolves to now) is not the device open in `p`.
    bool namesAnotherDevice(const Port& p, const std::string& path) const;
    // Opens COM`port`'s device `path` into ports_; EBUSY gives `busyCode`.
    int openDevice(int port, const std::string& path, int busyCode);
    // The claim's steps on an open device: refuse one another program holds, remember its
    // line settings, set exclusive use and take the lock.
    int claimDevice(Port& p);
    // Gives a claimed device its remembered line settings back and lifts exclusive use and
    // the lock; 0, or the errno of a device that would not take the settings.
    int releaseDevice(Port& p);
    // Closes the port, releasing it first when claimed.
    void closePort(int port);

    std::map<int, Port> ports_;
    int lastError_ = 0;
    std::string lastDetail_;
};
using NativeRs232 = PosixRs232;

}  // namespace vek::platform
