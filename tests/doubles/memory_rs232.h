// An in-memory serial line for unit tests, fuzzing and benchmarks. The master's bytes
// are handed to a scripted peer as one frame when the master starts waiting (the virtual
// clock's Delay); the peer answers now or at a later virtual time.
#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "clock.h"
#include "rs232.h"

namespace vek::platform {

class MemoryRs232 : public Rs232 {
public:
    using Bytes = std::vector<std::uint8_t>;
    explicit MemoryRs232(VirtualClock& clock);

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
    WireFrames LastWireFrames() const override { return wire; }

    // --- the test's side of the line ---
    struct OpenCall {
        int port;
        long baud;
        int parity, dataBits, stopBits;
        bool operator==(const OpenCall&) const = default;
    };
    // Called with each frame the master wrote on `port`.
    std::function<void(int port, const Bytes& frame)> peer;
    void inject(int port, const Bytes& bytes);                       // bytes arrive now
    void injectAfter(int port, double seconds, const Bytes& bytes);  // bytes arrive later
    void deliverWritten();                                           // hand pending bytes to the peer now
    bool isOpen(int port) const { return open_.count(port) != 0; }
    bool isClaimed(int port) const { return claimed_.count(port) != 0; }
    // The line setting the port is at now: its last OpenComConfig, or what a release gave
    // back; nothing for a port never set.
    std::optional<OpenCall> line(int port) const;
    std::size_t queued(int port) const;

    std::vector<Bytes> frames;           // every frame the master wrote, in order
    std::vector<OpenCall> opens;         // every OpenComConfig call
    std::vector<std::string> openNames;  // the device name of each, in the same order
    std::vector<int> closes;             // every CloseCom call
    std::set<int> absent;                // ports whose device is missing: opening them fails
    std::set<int> busy;                  // ports another program holds: claiming them fails
    std::map<int, std::string> devices;  // the device a port opens on; else what ResolveComPort says
    WireFrames wire;                     // what LastWireFrames says: a gateway's framing
    int connectingOpens = 0;             // the next this many opens find a connection still being made
    int failNextRead = 0;                // a negative code makes the next ComRd report it
    int failNextPeek = 0;                // a negative code makes the next ComPeek report it
    std::map<int, double> timeouts;

private:
    int fail(int code) { return lastError_ = code; }
    VirtualClock& clock_;
    void release(int port);
    std::map<int, std::string> open_;  // open ports and the device each is open on
    std::map<int, OpenCall> lines_;    // each port's line setting, kept while closed as a device keeps it
    std::map<int, std::optional<OpenCall>> claimed_;  // claimed ports and the line each had then
    std::map<int, std::deque<std::uint8_t>> in_;
    std::map<int, Bytes> pending_;
    int lastError_ = 0;
};

}  // namespace vek::platform
