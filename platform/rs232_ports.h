// What every system's serial ports share: the table of open ports, the outcome of the
// latest call and its text, the read-ahead a look ahead leaves, and the rules of opening,
// reopening, claiming and releasing a port (rs232.h has them). A system's class
// (posix_rs232.h, win32_rs232.h) brings the device: its handle in `Device`, and the calls
// below that open, set up, read and write it.
#pragma once
#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "rs232.h"

namespace vek::platform {

// A failed system call as the system tells it: its text, and whether it means the device
// has gone (an unplugged adapter) rather than something else failing.
struct SystemError {
    bool gone = false;
    std::string text;
};

// How a device call ended when it did not end well: the code to report (RS_ERR_DEVICE_GONE
// wins over it when `err` says the device has gone) and, when the system said why, its
// words.
struct DeviceFailure {
    int code = RS_ERR_SYSTEM;
    std::optional<SystemError> err;
};

template <class Device>
class Rs232Ports : public Rs232 {
public:
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

protected:
    struct Port {
        std::string path;
        double timeout = 0.5;
        // Bytes taken from the device by ComPeek and not yet by ComRd: a read consumes, so
        // they wait here, first in the queue.
        std::vector<std::uint8_t> ahead;
        bool claimed = false;
        Device dev;
    };

    // --- the device, one system's calls; none may wait past the port's time-out ---
    // True for line settings the system's lines take.
    virtual bool settingsValid(long baud, int parity, int dataBits, int stopBits) const = 0;
    // Opens p.path into p.dev; 0, or the failure recorded (`busyCode` when another program
    // holds the device) and its code.
    virtual int openDevice(Port& p, int busyCode) = 0;
    // Closes p.dev; a claim has been released before.
    virtual void closeDevice(Port& p) = 0;
    // True when the device of an open port has gone (hung up, unplugged).
    virtual bool deviceGone(const Port& p) const = 0;
    // True when `path`, what COMn resolves to now, is not the device open in `p`.
    virtual bool namesAnotherDevice(const Port& p, const std::string& path) const = 0;
    // Refuses a device another program holds, remembers its line settings and takes it for
    // this program alone; 0, or the failure recorded and its code.
    virtual int claimDevice(Port& p) = 0;
    // Gives a claimed device back what claimDevice remembered; records nothing.
    virtual std::optional<SystemError> releaseDevice(Port& p) = 0;
    // Sets the line and discards what waits in both directions.
    virtual std::optional<DeviceFailure> configureDevice(Port& p, long baud, int parity, int dataBits, int stopBits,
                                                         int inputQueueSize, int outputQueueSize) = 0;
    // Sends `count` (> 0) bytes; the number sent, or the failure recorded and its code.
    virtual int writeDevice(Port& p, const std::uint8_t* buffer, int count) = 0;
    // Reads up to `count` bytes into `buffer`, waiting at most the port's time-out for all of
    // them; `got` is what came. nullopt when all came, else how it ended (RS_ERR_TIMEOUT when
    // the time ran out).
    virtual std::optional<DeviceFailure> readDevice(Port& p, std::uint8_t* buffer, int count, int& got) = 0;
    // Moves what waits now, without waiting, into p.ahead until it holds `count` bytes.
    virtual std::optional<DeviceFailure> fillAhead(Port& p, int count) = 0;
    // Bytes waiting, p.ahead's included; or the failure recorded and its code.
    virtual int waitingBytes(Port& p) = 0;
    // The time-out has changed.
    virtual void timeoutChanged(Port&) {}

    // --- outcomes ---
    int ok(int result = 0)
    {
        lastError_ = 0;
        lastDetail_.clear();
        return result;
    }
    int fail(int code, const std::string& detail)
    {
        lastError_ = code;
        lastDetail_ = detail;
        return code;
    }
    // "Text of the code: device"
    int failOn(int code, const Port& p) { return fail(code, Rs232ErrorText(code) + ": " + p.path); }
    // "Text of the code: device (the system's words)"; gone when the system says so.
    int failSystem(int code, const Port& p, const SystemError& e)
    {
        const int c = e.gone ? RS_ERR_DEVICE_GONE : code;
        return fail(c, Rs232ErrorText(c) + ": " + p.path + " (" + e.text + ")");
    }
    int failDevice(const Port& p, const DeviceFailure& f)
    {
        return f.err ? failSystem(f.code, p, *f.err) : failOn(f.code, p);
    }
    int failNotSerial(const Port& p)
    {
        return fail(RS_ERR_CANNOT_OPEN, Rs232ErrorText(RS_ERR_CANNOT_OPEN) + ": " + p.path + " is not a serial device");
    }
    int lastError() const { return lastError_; }

    // Closes every port: the system's destructor calls it, while its calls still exist.
    void closeAll()
    {
        while (!ports_.empty())
            closePort(ports_.begin()->first);
    }

private:
    int notOpen(int port)
    {
        return fail(RS_ERR_NOT_OPEN, Rs232ErrorText(RS_ERR_NOT_OPEN) + ": COM" + std::to_string(port));
    }
    int invalidPort(int port) { return fail(RS_ERR_INVALID_PORT, "Invalid port number: COM" + std::to_string(port)); }
    // Opens COM`port`'s device `path` into the table.
    int openPort(int port, const std::string& path, int busyCode);
    // Releases the claim; nullopt or how the device refused its settings back.
    std::optional<SystemError> release(Port& p);
    // Closes the port, releasing it first when claimed.
    void closePort(int port);

    std::map<int, Port> ports_;
    int lastError_ = 0;
    std::string lastDetail_;
};

template <class Device>
int Rs232Ports<Device>::openPort(int port, const std::string& path, int busyCode)
{
    Port p;
    p.path = path;
    if (const int rc = openDevice(p, busyCode); rc < 0)
        return rc;
    ports_.emplace(port, std::move(p));
    return ok();
}

template <class Device>
std::optional<SystemError> Rs232Ports<Device>::release(Port& p)
{
    if (!p.claimed)
        return std::nullopt;
    // What the visit left queued is nobody else's business.
    p.ahead.clear();
    auto err = releaseDevice(p);
    p.claimed = false;
    return err;
}

template <class Device>
void Rs232Ports<Device>::closePort(int port)
{
    auto it = ports_.find(port);
    if (it == ports_.end())
        return;
    release(it->second);
    closeDevice(it->second);
    ports_.erase(it);
}

template <class Device>
int Rs232Ports<Device>::ClaimCom(int port)
{
    if (port < 1 || port > 99)
        return invalidPort(port);
    const std::string path = ResolveComPort(port);
    auto it = ports_.find(port);
    if (it != ports_.end() && it->second.claimed)
        return ok();
    // A device gone or replaced behind the name is dropped, as a reopening drops it.
    if (it != ports_.end() && (deviceGone(it->second) || namesAnotherDevice(it->second, path)))
        closePort(port);
    const bool wasOpen = ports_.count(port) != 0;
    if (!wasOpen) {
        if (const int rc = openPort(port, path, RS_ERR_BUSY); rc < 0)
            return rc;
    }
    Port& p = ports_.at(port);
    if (const int rc = claimDevice(p); rc < 0) {
        if (!wasOpen)
            closePort(port);  // leaves the error as claimDevice recorded it
        return rc;
    }
    p.claimed = true;
    return ok();
}

template <class Device>
int Rs232Ports<Device>::ReleaseCom(int port)
{
    auto it = ports_.find(port);
    if (it == ports_.end())
        return notOpen(port);
    if (auto err = release(it->second))
        return failSystem(RS_ERR_SYSTEM, it->second, *err);
    return ok();
}

template <class Device>
std::string Rs232Ports<Device>::DevicePath(int port) const
{
    auto it = ports_.find(port);
    return it == ports_.end() ? std::string() : it->second.path;
}

template <class Device>
int Rs232Ports<Device>::OpenComConfig(int port, const std::string& /*deviceName*/, long baud, int parity, int dataBits,
                                      int stopBits, int inputQueueSize, int outputQueueSize)
{
    if (port < 1 || port > 99)
        return invalidPort(port);
    if (!settingsValid(baud, parity, dataBits, stopBits))
        return fail(RS_ERR_BAD_SETTINGS, Rs232ErrorText(RS_ERR_BAD_SETTINGS) + ": " + std::to_string(baud) + " baud, " +
                                             std::to_string(dataBits) + " data bits, " + std::to_string(stopBits) +
                                             " stop bits, parity " + std::to_string(parity));

    // A re-plugged adapter comes back as a new device behind the same name, and one plugged
    // back after a fallback makes COMn name another device: either way the open one is
    // dropped and the device COMn names now is opened.
    const std::string path = ResolveComPort(port);
    auto it = ports_.find(port);
    // A claim goes with the port to the device it is reopened on.
    bool claimed = it != ports_.end() && it->second.claimed;
    if (it != ports_.end() && (deviceGone(it->second) || namesAnotherDevice(it->second, path)))
        closePort(port);

    for (int attempt = 0; attempt < 2; ++attempt) {
        it = ports_.find(port);
        if (it == ports_.end()) {
            if (const int rc = openPort(port, path, claimed ? RS_ERR_BUSY : RS_ERR_CANNOT_OPEN); rc < 0)
                return rc;
            it = ports_.find(port);
            if (claimed) {
                if (const int rc = claimDevice(it->second); rc < 0) {
                    closeDevice(it->second);
                    ports_.erase(it);
                    return rc;
                }
                it->second.claimed = true;
            }
        }
        Port& p = it->second;
        if (auto f = configureDevice(p, baud, parity, dataBits, stopBits, inputQueueSize, outputQueueSize)) {
            // The device went between the look above and now: once more, on the device there now.
            if (f->err && f->err->gone && attempt == 0) {
                claimed = claimed || p.claimed;
                closePort(port);
                continue;
            }
            const int rc = failDevice(p, *f);
            closePort(port);
            return rc;
        }
        // Whatever arrived late for an earlier request must never be taken as the next reply.
        p.ahead.clear();
        return ok();
    }
    return fail(RS_ERR_CANNOT_OPEN, Rs232ErrorText(RS_ERR_CANNOT_OPEN) + ": COM" + std::to_string(port));
}

template <class Device>
int Rs232Ports<Device>::CloseCom(int port)
{
    if (ports_.find(port) == ports_.end())
        return notOpen(port);
    closePort(port);
    return ok();
}

template <class Device>
int Rs232Ports<Device>::ComWrtByte(int port, int byte)
{
    const std::uint8_t b = static_cast<std::uint8_t>(byte);
    const int rc = ComWrt(port, &b, 1);
    return rc == 1 ? b : rc;
}

template <class Device>
int Rs232Ports<Device>::ComWrt(int port, const std::uint8_t* buffer, int count)
{
    auto it = ports_.find(port);
    if (it == ports_.end())
        return notOpen(port);
    if (count <= 0)
        return ok(0);
    const int n = writeDevice(it->second, buffer, count);
    return n < 0 ? n : ok(n);
}

template <class Device>
int Rs232Ports<Device>::ComRd(int port, std::uint8_t* buffer, int count)
{
    auto it = ports_.find(port);
    if (it == ports_.end())
        return notOpen(port);
    Port& p = it->second;
    // What a look ahead took from the device comes first.
    int got = std::max(0, std::min(count, static_cast<int>(p.ahead.size())));
    if (got > 0) {
        std::copy_n(p.ahead.begin(), got, buffer);
        p.ahead.erase(p.ahead.begin(), p.ahead.begin() + got);
    }
    if (got >= count)
        return ok(got);
    int more = 0;
    const auto f = readDevice(p, buffer + got, count - got, more);
    got += more;
    if (!f)
        return ok(got);
    if (f->code == RS_ERR_TIMEOUT && !f->err) {
        fail(RS_ERR_TIMEOUT, Rs232ErrorText(RS_ERR_TIMEOUT) + ": " + p.path + " (" + std::to_string(got) + " of " +
                                 std::to_string(count) + " bytes)");
        return got;
    }
    // Failed: what came is the caller's; the code when nothing did.
    failDevice(p, *f);
    return got > 0 ? got : lastError_;
}

template <class Device>
int Rs232Ports<Device>::ComPeek(int port, std::uint8_t* buffer, int count)
{
    auto it = ports_.find(port);
    if (it == ports_.end())
        return notOpen(port);
    Port& p = it->second;
    if (static_cast<int>(p.ahead.size()) < count) {
        // Failed or hung up: what was taken can still be read; the error shows once nothing
        // is left.
        if (const auto f = fillAhead(p, count); f && p.ahead.empty())
            return failDevice(p, *f);
    }
    const int n = std::max(0, std::min(count, static_cast<int>(p.ahead.size())));
    std::copy_n(p.ahead.begin(), n, buffer);
    return ok(n);
}

template <class Device>
int Rs232Ports<Device>::GetInQLen(int port)
{
    auto it = ports_.find(port);
    if (it == ports_.end())
        return notOpen(port);
    const int n = waitingBytes(it->second);
    return n < 0 ? n : ok(n);
}

template <class Device>
int Rs232Ports<Device>::SetComTime(int port, double seconds)
{
    auto it = ports_.find(port);
    if (it == ports_.end())
        return notOpen(port);
    it->second.timeout = seconds > 0 ? seconds : 0;
    timeoutChanged(it->second);
    return ok();
}

template <class Device>
std::string Rs232Ports<Device>::GetRS232ErrorString(int code)
{
    if (code != 0 && code == lastError_ && !lastDetail_.empty())
        return lastDetail_;
    return Rs232ErrorText(code);
}

}  // namespace vek::platform
