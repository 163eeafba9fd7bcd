// The serial-port services the Modbus link uses. COMn is a device path (see
// ResolveComPort): termios on Linux (posix_rs232.h), the Win32 communications calls on
// Windows (win32_rs232.h). Every operation records its outcome for ReturnRS232Err.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace vek::platform {

// Parity codes of OpenComConfig.
inline constexpr int RS_PARITY_NONE = 0;
inline constexpr int RS_PARITY_ODD = 1;
inline constexpr int RS_PARITY_EVEN = 2;

// Error codes (0 = no error). Each lights the link's error lamp when a read reports it.
inline constexpr int RS_ERR_SYSTEM = -1;        // an unexpected system call failure
inline constexpr int RS_ERR_INVALID_PORT = -2;  // port number outside 1..99
inline constexpr int RS_ERR_NOT_OPEN = -3;      // the port is not open
inline constexpr int RS_ERR_CANNOT_OPEN = -4;   // the device could not be opened
inline constexpr int RS_ERR_DEVICE_GONE = -5;   // the device went away (unplugged adapter)
inline constexpr int RS_ERR_BAD_SETTINGS = -6;  // baud, parity, data or stop bits not supported
inline constexpr int RS_ERR_BUSY = -7;          // another program holds the device (ClaimCom)
inline constexpr int RS_ERR_CONNECTING = -8;    // a network connection is still being made
inline constexpr int RS_ERR_TIMEOUT = -99;      // fewer bytes than asked within the time-out

// The latest request and the reply taken for it as they went over the wire, for a link that
// frames them otherwise than the serial frames it is handed (a Modbus TCP gateway).
struct WireFrames {
    std::vector<std::uint8_t> request;  // empty: the serial frame itself went out
    std::vector<std::uint8_t> reply;    // empty: no reply taken, or the serial frame itself
};

class Rs232 {
public:
    virtual ~Rs232() = default;
    // Opens COM`port` (the device name is unused: ports resolve by number). Opening a port
    // that is already open reconfigures it and discards both queues; if its device has
    // gone, or COM`port` now resolves to another device than the open one, the port is
    // closed and the resolved path opened afresh. 0 or a negative RS_ERR_ code.
    virtual int OpenComConfig(int port, const std::string& deviceName, long baud, int parity, int dataBits,
                              int stopBits, int inputQueueSize, int outputQueueSize) = 0;
    // Closes the port; closing a port that is not open is harmless (RS_ERR_NOT_OPEN). A
    // claimed port is released first (ReleaseCom), and so is one a reopening drops.
    virtual int CloseCom(int port) = 0;
    // Takes COM`port` for this program alone until ReleaseCom, for a visit that must leave
    // the device as it found it (Find Transmitter probing every port):
    // - opens the device when the port is not open, without waiting for a modem-control line;
    // - refuses it with RS_ERR_BUSY, touching nothing, when another program holds it: it
    //   set exclusive use on the device (the open fails with EBUSY, or, for a process that
    //   may override that, the device reports it), or holds a lock on it (flock);
    // - remembers the device's line settings as they are now, before anything changes them;
    // - sets exclusive use and takes the lock, so no other program opens it meanwhile.
    // OpenComConfig on a claimed port reconfigures it and keeps the claim. Claiming a port
    // claimed already changes nothing. 0 or a negative RS_ERR_ code; after an error the
    // port is open or closed as it was before the call, and unclaimed.
    virtual int ClaimCom(int port) = 0;
    // Ends the claim: gives the device back the line settings ClaimCom remembered, lifts
    // exclusive use and the lock, so other programs, and this one's own polling, open the
    // device as before. The port stays open. Releasing a port that is not claimed changes
    // nothing and returns 0 (RS_ERR_NOT_OPEN when it is not open either).
    virtual int ReleaseCom(int port) = 0;
    // Queues one byte for sending; returns the byte or a negative code.
    virtual int ComWrtByte(int port, int byte) = 0;
    // Sends `count` bytes as one piece, so no gap a slave could take for the end of a frame
    // falls inside them; returns the number sent or a negative code.
    virtual int ComWrt(int port, const std::uint8_t* buffer, int count) = 0;
    // Reads exactly `count` bytes, waiting at most the port's time-out for them; returns
    // the number read (fewer on time-out, with RS_ERR_TIMEOUT recorded) or a negative code.
    virtual int ComRd(int port, std::uint8_t* buffer, int count) = 0;
    // Copies up to `count` of the bytes waiting right now into `buffer` without taking them:
    // the next ComRd still reads them, and GetInQLen still counts them. Never waits; returns
    // the number copied or a negative code.
    virtual int ComPeek(int port, std::uint8_t* buffer, int count) = 0;
    // Bytes waiting in the input queue right now, or a negative code.
    virtual int GetInQLen(int port) = 0;
    // Time-out of ComRd, ComWrt and ComWrtByte, in seconds.
    virtual int SetComTime(int port, double seconds) = 0;
    // The outcome of the latest operation: 0 or a negative code.
    virtual int ReturnRS232Err() = 0;
    // A readable text for a code; for the latest error it names the device and the cause.
    virtual std::string GetRS232ErrorString(int code) = 0;
    // The device path COM`port` is open on, or "" when it is not open.
    virtual std::string DevicePath(int port) const = 0;
    // The wire form of the latest request (since its ComWrt) and of the reply taken for it;
    // nothing for a link whose wire carries the serial frames.
    virtual WireFrames LastWireFrames() const { return {}; }
};

// The device behind COM`port`: $VEK_COM<port> when set; else, on Linux, /dev/ttyUSB<port-1>
// when it exists, else /dev/ttyS<port-1>; on Windows the port of that name, "COM<port>".
// Empty for port numbers outside 1..99.
std::string ResolveComPort(int port);

// True when the device behind COM`port` exists and, for an on-board port (/dev/ttyS...),
// has a UART behind it: the kernel makes ttyS0 to ttyS31 whether or not the machine has
// those ports, and a scan of every port would spend minutes probing nothing there. On
// Windows: when the system lists the port among its devices.
bool ComPortPresent(int port);

// True when the device `path` (what ResolveComPort gave) is there now.
bool DeviceExists(const std::string& path);

// The fixed texts of the error codes.
std::string Rs232ErrorText(int code);

}  // namespace vek::platform
