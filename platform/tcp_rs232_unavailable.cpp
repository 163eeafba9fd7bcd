// The network link where it is not built yet (Windows, until it is ported to Windows
// sockets): every opening fails and says why, so a settings file naming a gateway gives a
// plain message on the main window instead of a link that never answers.
#include "tcp_rs232.h"

namespace vek::platform {

namespace {
const char* kindText(GatewayKind k) { return k == GatewayKind::ModbusTcp ? "Modbus TCP" : "RTU over TCP"; }
constexpr const char* kNotBuilt = "Network connections are not in this build of the program";
}  // namespace

std::string EndpointText(const TcpEndpoint& e)
{
    const bool v6 = e.host.find(':') != std::string::npos;
    return (v6 ? "[" + e.host + "]" : e.host) + ":" + std::to_string(e.port);
}

int SystemResolve(const std::string&, int, std::vector<ResolvedAddress>&, std::string& error)
{
    error = kNotBuilt;
    return -1;
}

struct TcpRs232::Lookup {};

TcpRs232::TcpRs232(TcpEndpoint endpoint, Resolver resolve) : endpoint_(std::move(endpoint)), resolve_(std::move(resolve))
{
}
TcpRs232::~TcpRs232() = default;

int TcpRs232::ok(int result)
{
    lastError_ = 0;
    return result;
}
int TcpRs232::fail(int code, const std::string& what, const std::string& reason)
{
    lastError_ = code;
    lastDetail_ = what + ": " + kindText(endpoint_.kind) + " " + EndpointText(endpoint_) + " (" + reason + ")";
    return code;
}
int TcpRs232::lose(std::string reason) { return fail(RS_ERR_DEVICE_GONE, "Connection lost", reason); }
int TcpRs232::notOpen() { return fail(RS_ERR_NOT_OPEN, "Not connected", kNotBuilt); }
int TcpRs232::startConnect() { return fail(RS_ERR_CANNOT_OPEN, "Cannot connect", kNotBuilt); }
int TcpRs232::settleConnect(double) { return startConnect(); }
int TcpRs232::connectTo(const std::vector<ResolvedAddress>&) { return startConnect(); }
int TcpRs232::settleLookup(double) { return startConnect(); }
int TcpRs232::ensureUp() { return notOpen(); }
int TcpRs232::pump(int) { return notOpen(); }
std::vector<std::uint8_t>& TcpRs232::queue() { return ahead_; }
void TcpRs232::discardInput() { ahead_.clear(); }

int TcpRs232::OpenComConfig(int, const std::string&, long, int, int, int, int, int) { return startConnect(); }
int TcpRs232::CloseCom(int) { return ok(); }
int TcpRs232::ClaimCom(int) { return notOpen(); }
int TcpRs232::ReleaseCom(int) { return ok(); }
int TcpRs232::ComWrtByte(int, int) { return notOpen(); }
int TcpRs232::ComWrt(int, const std::uint8_t*, int) { return notOpen(); }
int TcpRs232::ComRd(int, std::uint8_t*, int) { return notOpen(); }
int TcpRs232::ComPeek(int, std::uint8_t*, int) { return notOpen(); }
int TcpRs232::GetInQLen(int) { return notOpen(); }
WireFrames TcpRs232::LastWireFrames() const { return {}; }
int TcpRs232::SetComTime(int, double seconds)
{
    timeout_ = seconds;
    return ok();
}
std::string TcpRs232::GetRS232ErrorString(int code) { return code == lastError_ ? lastDetail_ : Rs232ErrorText(code); }
std::string TcpRs232::DevicePath(int) const { return kindText(endpoint_.kind) + std::string(" to ") + EndpointText(endpoint_); }

}  // namespace vek::platform
