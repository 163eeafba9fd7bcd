#include "link_switch.h"

#include <charconv>

namespace vek::platform {

namespace {
constexpr const char* kRtuScheme = "rtu-tcp://";
constexpr const char* kMbapScheme = "modbus-tcp://";
}  // namespace

std::string NetworkDeviceName(const TcpEndpoint& e)
{
    return std::string(e.kind == GatewayKind::ModbusTcp ? kMbapScheme : kRtuScheme) + EndpointText(e);
}

std::optional<TcpEndpoint> ParseNetworkDeviceName(const std::string& name)
{
    TcpEndpoint e;
    std::string rest;
    if (name.rfind(kRtuScheme, 0) == 0) {
        e.kind = GatewayKind::RtuOverTcp;
        rest = name.substr(std::char_traits<char>::length(kRtuScheme));
    } else if (name.rfind(kMbapScheme, 0) == 0) {
        e.kind = GatewayKind::ModbusTcp;
        rest = name.substr(std::char_traits<char>::length(kMbapScheme));
    } else {
        return std::nullopt;
    }
    const auto colon = rest.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return std::nullopt;
    std::string host = rest.substr(0, colon);
    if (host.front() == '[') {
        if (host.size() < 3 || host.back() != ']')
            return std::nullopt;
        host = host.substr(1, host.size() - 2);
    }
    const std::string port = rest.substr(colon + 1);
    int n = 0;
    const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), n);
    if (port.empty() || ec != std::errc{} || end != port.data() + port.size() || n < 1 || n > 65535)
        return std::nullopt;
    e.host = host;
    e.port = n;
    return e;
}

int LinkSwitch::OpenComConfig(int port, const std::string& deviceName, long baud, int parity, int dataBits,
                              int stopBits, int inputQueueSize, int outputQueueSize)
{
    const auto endpoint = ParseNetworkDeviceName(deviceName);
    if (!endpoint) {
        net_.reset();
        return serial_.OpenComConfig(port, deviceName, baud, parity, dataBits, stopBits, inputQueueSize,
                                     outputQueueSize);
    }
    const TcpEndpoint& e = *endpoint;
    if (!net_ || net_->endpoint().host != e.host || net_->endpoint().port != e.port || net_->endpoint().kind != e.kind) {
        // The serial port is let go while the gateway is used: another program may take it.
        serial_.CloseCom(port);
        net_ = std::make_unique<TcpRs232>(e);
    }
    return net_->OpenComConfig(port, deviceName, baud, parity, dataBits, stopBits, inputQueueSize, outputQueueSize);
}

}  // namespace vek::platform
