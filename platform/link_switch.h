// The program's one link, serial or network: a serial port, or a connection to an Ethernet
// gateway when the device name handed to OpenComConfig names one ("rtu-tcp://host:port" or
// "modbus-tcp://host:port", see NetworkDeviceName). Every other call goes to the link the
// last opening chose, so the layers above never know which it is.
#pragma once
#include <memory>
#include <optional>
#include <string>

#include "rs232.h"
#include "tcp_rs232.h"

namespace vek::platform {

// The device name that makes OpenComConfig connect to `e`.
std::string NetworkDeviceName(const TcpEndpoint& e);
// The gateway a device name names; nullopt for anything else (a serial port's "").
std::optional<TcpEndpoint> ParseNetworkDeviceName(const std::string& name);

class LinkSwitch : public Rs232 {
public:
    explicit LinkSwitch(Rs232& serial) : serial_(serial) {}

    // A network device name opens that gateway (a connection to another one is closed first);
    // any other name opens the serial port, closing the network connection.
    int OpenComConfig(int port, const std::string& deviceName, long baud, int parity, int dataBits, int stopBits,
                      int inputQueueSize, int outputQueueSize) override;
    int CloseCom(int port) override { return current().CloseCom(port); }
    int ClaimCom(int port) override { return current().ClaimCom(port); }
    int ReleaseCom(int port) override { return current().ReleaseCom(port); }
    int ComWrtByte(int port, int byte) override { return current().ComWrtByte(port, byte); }
    int ComWrt(int port, const std::uint8_t* buffer, int count) override { return current().ComWrt(port, buffer, count); }
    int ComRd(int port, std::uint8_t* buffer, int count) override { return current().ComRd(port, buffer, count); }
    int ComPeek(int port, std::uint8_t* buffer, int count) override { return current().ComPeek(port, buffer, count); }
    int GetInQLen(int port) override { return current().GetInQLen(port); }
    int SetComTime(int port, double seconds) override { return current().SetComTime(port, seconds); }
    int ReturnRS232Err() override { return current().ReturnRS232Err(); }
    std::string GetRS232ErrorString(int code) override { return current().GetRS232ErrorString(code); }
    std::string DevicePath(int port) const override { return net_ ? net_->DevicePath(port) : serial_.DevicePath(port); }
    WireFrames LastWireFrames() const override { return net_ ? net_->LastWireFrames() : serial_.LastWireFrames(); }

    // The gateway in use, or nullptr while the serial port is.
    const TcpRs232* network() const { return net_.get(); }

private:
    Rs232& current() { return net_ ? static_cast<Rs232&>(*net_) : serial_; }
    Rs232& serial_;
    std::unique_ptr<TcpRs232> net_;
};

}  // namespace vek::platform
