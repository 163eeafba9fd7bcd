// Serial ports on POSIX termios: raw mode, 8N1-style settings, non-blocking descriptors
// waited on with poll(), so nothing here can spin or hang past its time-out.
#pragma once
#include <termios.h>

#include <optional>
#include <string>

#include "rs232_ports.h"

namespace vek::platform {

// The attributes of a raw line at the given settings, built on `base` (what the device
// has now): speed, parity (an RS_PARITY_ code), data and stop bits, no flow control, and
// a read returns what waits. nullopt for settings no line takes.
std::optional<termios> LineTermios(termios base, long baud, int parity, int dataBits, int stopBits);

// The descriptor of an open terminal device, and while the port is claimed the line
// settings the device had when ClaimCom took it.
struct PosixDevice {
    int fd = -1;
    std::optional<termios> claimedFrom;
};

class PosixRs232 : public Rs232Ports<PosixDevice> {
public:
    PosixRs232() = default;
    ~PosixRs232() override;
    PosixRs232(const PosixRs232&) = delete;
    PosixRs232& operator=(const PosixRs232&) = delete;

private:
    bool settingsValid(long baud, int parity, int dataBits, int stopBits) const override;
    int openDevice(Port& p, int busyCode) override;
    void closeDevice(Port& p) override;
    // Hung up with nothing left to read, or closed under us.
    bool deviceGone(const Port& p) const override;
    // The same name may have been pointed at another device (a link re-pointed, a node
    // made anew).
    bool namesAnotherDevice(const Port& p, const std::string& path) const override;
    // Refuses a device set for exclusive use or locked (flock), remembers its line
    // settings, sets exclusive use and takes the lock.
    int claimDevice(Port& p) override;
    std::optional<SystemError> releaseDevice(Port& p) override;
    std::optional<DeviceFailure> configureDevice(Port& p, long baud, int parity, int dataBits, int stopBits,
                                                 int inputQueueSize, int outputQueueSize) override;
    int writeDevice(Port& p, const std::uint8_t* buffer, int count) override;
    std::optional<DeviceFailure> readDevice(Port& p, std::uint8_t* buffer, int count, int& got) override;
    std::optional<DeviceFailure> fillAhead(Port& p, int count) override;
    int waitingBytes(Port& p) override;
};
using NativeRs232 = PosixRs232;

}  // namespace vek::platform
