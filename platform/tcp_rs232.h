// The link through an Ethernet gateway: the serial-port services over one TCP connection,
// so the master, its checks and the link engine work unchanged. Two kinds of gateway:
// - RTU over TCP: the serial frames byte for byte, CRC included;
// - Modbus TCP: each request goes out with an MBAP header (transaction id rising per
//   request, protocol 0, length, unit id = the slave address) and no CRC; a reply is taken
//   only when it answers the request in flight, and reaches the master as a serial frame.
// The socket never blocks the caller: the connection is made in the background and checked
// on the next calls, and reads and writes wait at most the port's time-out.
#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "mbap.h"
#include "rs232.h"
#include "socket_compat.h"

namespace vek::platform {

enum class GatewayKind { RtuOverTcp, ModbusTcp };

struct TcpEndpoint {
    std::string host;  // a name, an IPv4 or an IPv6 address
    int port = 502;
    GatewayKind kind = GatewayKind::RtuOverTcp;
};

// "host:port", with an IPv6 address in brackets.
std::string EndpointText(const TcpEndpoint& e);

// One address a host name stands for, as the system's resolver gives it.
struct ResolvedAddress {
    int family = 0;
    int socktype = 0;
    int protocol = 0;
    std::vector<std::uint8_t> address;  // the socket address, as connect takes it
};

// Looks `host` up: 0 and the addresses, or a nonzero code and the reason in `error`. It may
// take as long as the name servers do: the link runs it on a thread of its own.
using Resolver = std::function<int(const std::string& host, int port, std::vector<ResolvedAddress>& found,
                                   std::string& error)>;
// The system's resolver (getaddrinfo).
int SystemResolve(const std::string& host, int port, std::vector<ResolvedAddress>& found, std::string& error);

class TcpRs232 : public Rs232 {
public:
    // How long a connection may take before it counts as failed.
    static constexpr double kConnectLimit = 3.0;
    // How long OpenComConfig waits for a connection under way before it returns: a gateway
    // on the LAN answers well within it; a slower one is checked again by the next calls. It
    // runs on the window's thread, which must never be held for longer than 50 ms.
    static constexpr double kConnectSlice = 0.04;
    // A connection that took this many requests in a row to one slave without a byte in
    // answer is made anew at the next opening: a gateway can keep a connection up and pass
    // nothing on. Requests to other slaves in between (a scan) start the count again.
    static constexpr int kSilentRequestLimit = 3;

    // A host given as a numeric address is used at once; a name is looked up by `resolve`
    // on a thread of its own, so a slow name server never holds the caller. The lookup
    // counts within kConnectLimit.
    explicit TcpRs232(TcpEndpoint endpoint, Resolver resolve = SystemResolve);
    ~TcpRs232() override;
    TcpRs232(const TcpRs232&) = delete;
    TcpRs232& operator=(const TcpRs232&) = delete;

    const TcpEndpoint& endpoint() const { return endpoint_; }

    // Connects (or checks the connection under way) and discards whatever waits; the line
    // settings are the gateway's and are ignored. A connection that is up stays up.
    int OpenComConfig(int port, const std::string& deviceName, long baud, int parity, int dataBits, int stopBits,
                      int inputQueueSize, int outputQueueSize) override;
    int CloseCom(int port) override;
    // A connection is this program's alone already: claiming is opening.
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
    // Modbus TCP: the MBAP frame of the latest request, and of the reply taken for it.
    WireFrames LastWireFrames() const override;

private:
    using SteadyTime = std::chrono::steady_clock::time_point;
    enum class State { Closed, Resolving, Connecting, Up };
    struct Lookup;

    int ok(int result = 0);
    int fail(int code, const std::string& what, const std::string& reason);
    // Drops the connection and records why: a peer that closed or reset it, or a stream
    // that cannot be followed.
    int lose(std::string reason);
    int notOpen();
    // Closes the socket and forgets what was read from it.
    void drop();
    // Starts a connection (or the lookup of the host's name); 0, or the error when it
    // failed at once.
    int startConnect();
    // Starts connecting to the first of `found` that takes it; 0 or the error.
    int connectTo(const std::vector<ResolvedAddress>& found);
    // Waits up to `seconds` for the name lookup under way; 0 once connecting, 1 while the
    // name is still being looked up, or a negative code.
    int settleLookup(double seconds);
    // Waits up to `seconds` for a connection under way; 0 once up, 1 while still under way,
    // or a negative code (it failed or took longer than kConnectLimit).
    int settleConnect(double seconds);
    // The connection is up (checking one under way without waiting); else a negative code.
    int ensureUp();
    // Reads what waits on the socket without blocking: into the raw queue (RTU over TCP,
    // at most `wanted` bytes in all), or through the MBAP receiver. 0 or a negative code.
    int pump(int wanted);
    // Bytes the master may read now.
    std::vector<std::uint8_t>& queue();
    // Discards whatever waits, on the socket and here.
    void discardInput();

    TcpEndpoint endpoint_;
    Resolver resolve_;
    // The name lookup under way, shared with its thread: a lookup that outlasts the
    // connection's time limit goes on, and the next opening takes its answer.
    std::shared_ptr<Lookup> lookup_;
    net::Socket fd_ = net::kNoSocket;
    State state_ = State::Closed;
    SteadyTime connectStarted_{};
    double timeout_ = 0.5;
    std::vector<std::uint8_t> ahead_;  // RTU over TCP: bytes read from the socket, not yet by ComRd
    mbap::Receiver receiver_;          // Modbus TCP
    std::uint16_t transaction_ = 0;
    std::vector<std::uint8_t> wireRequest_;  // Modbus TCP: the latest request as sent
    bool peerClosed_ = false;  // the gateway closed after bytes still to be read here
    bool answered_ = true;     // something came in since the last request went out
    int unanswered_ = 0;       // requests in a row that nothing came in for
    int lastSlave_ = -1;       // the slave address of the latest request
    int lastError_ = 0;
    std::string lastDetail_;
    std::string lostDetail_;  // why the connection was lost, until the next open or close
};

}  // namespace vek::platform
