// The network link over a real loopback socket, the test playing the gateway: the frames on
// the wire for both kinds, replies matched and checked by the unchanged master, a gateway
// that refuses, closes or lies, and the reconnection at the next open.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>

#include "link_switch.h"
#include "mb_crc.h"
#include "mb_rtu_master.h"
#include "memory_rs232.h"
#include "tcp_rs232.h"

using namespace vek;
using namespace vek::platform;
using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr int kCom = 1;

Bytes withCrc(Bytes b)
{
    const std::uint16_t crc = usMBCRC16(b.data(), static_cast<std::uint32_t>(b.size()));
    b.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    b.push_back(static_cast<std::uint8_t>(crc >> 8));
    return b;
}

Bytes mbapFrame(std::uint16_t tid, const Bytes& unitPdu, int length = -1)
{
    const int len = length < 0 ? static_cast<int>(unitPdu.size()) : length;
    Bytes f = {static_cast<std::uint8_t>(tid >> 8), static_cast<std::uint8_t>(tid), 0, 0,
               static_cast<std::uint8_t>(len >> 8), static_cast<std::uint8_t>(len)};
    f.insert(f.end(), unitPdu.begin(), unitPdu.end());
    return f;
}

// Two registers read: 0x002A and 0xFF01.
const Bytes kRead2 = {0x03, 0x04, 0x00, 0x2A, 0xFF, 0x01};

// The gateway's side: a listening socket on 127.0.0.1 and the connection it accepted.
struct Gateway {
    int listener = -1;
    int conn = -1;
    int port = 0;
    Gateway()
    {
        listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        EXPECT_EQ(::listen(listener, 4), 0);
        socklen_t len = sizeof a;
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ~Gateway()
    {
        if (conn >= 0)
            ::close(conn);
        if (listener >= 0)
            ::close(listener);
    }
    bool accept()
    {
        pollfd p{listener, POLLIN, 0};
        if (::poll(&p, 1, 2000) != 1)
            return false;
        if (conn >= 0)
            ::close(conn);
        conn = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        return conn >= 0;
    }
    // Reads exactly `n` bytes of what the master sent (2 s at the most).
    Bytes read(std::size_t n)
    {
        Bytes b(n);
        std::size_t got = 0;
        while (got < n) {
            pollfd p{conn, POLLIN, 0};
            if (::poll(&p, 1, 2000) != 1)
                break;
            const ssize_t r = ::recv(conn, b.data() + got, n - got, 0);
            if (r <= 0)
                break;
            got += static_cast<std::size_t>(r);
        }
        b.resize(got);
        return b;
    }
    void send(const Bytes& b) { ASSERT_EQ(::send(conn, b.data(), b.size(), MSG_NOSIGNAL), static_cast<ssize_t>(b.size())); }
    // True once the master closed its end (end of file within 2 s); false while it stays open.
    bool closedByPeer()
    {
        pollfd p{conn, POLLIN, 0};
        if (::poll(&p, 1, 2000) != 1)
            return false;
        std::uint8_t b = 0;
        return ::recv(conn, &b, 1, 0) == 0;
    }
    void drop()
    {
        ::close(conn);
        conn = -1;
    }
};

struct TcpLinkTest : ::testing::Test {
    Gateway gw;
    SleepClock clock;
    LinkState s;
    std::unique_ptr<TcpRs232> link;
    void make(GatewayKind kind) { link = std::make_unique<TcpRs232>(TcpEndpoint{"127.0.0.1", gw.port, kind}); }
    int open() { return link->OpenComConfig(kCom, "", 9600, RS_PARITY_NONE, 8, 1, 512, -1); }
    PendingReply startRead(std::uint8_t slave)
    {
        MasterIo io{*link, clock};
        return StartReadHoldingRegisters(s, io, kCom, slave, 0, 2, ReplyWait{0.5, true, 9600, false});
    }
    RtuResult finish(PendingReply p) { return p.WaitOut(); }
};

}  // namespace

TEST_F(TcpLinkTest, RtuOverTcpCarriesTheSerialFramesByteForByte)
{
    make(GatewayKind::RtuOverTcp);
    ASSERT_EQ(open(), 0) << link->GetRS232ErrorString(link->ReturnRS232Err());
    ASSERT_TRUE(gw.accept());
    EXPECT_EQ(link->DevicePath(kCom), "127.0.0.1:" + std::to_string(gw.port) + " (RTU over TCP)");
    auto p = startRead(7);
    EXPECT_EQ(gw.read(8), withCrc({7, 0x03, 0x00, 0x00, 0x00, 0x02}));
    // The reply in two pieces, as a gateway may pass it on.
    const Bytes reply = withCrc(Bytes{7, 0x03, 0x04, 0x00, 0x2A, 0xFF, 0x01});
    gw.send(Bytes(reply.begin(), reply.begin() + 4));
    gw.send(Bytes(reply.begin() + 4, reply.end()));
    const RtuResult r = finish(std::move(p));
    EXPECT_EQ(r.outcome.result, ExchangeResult::Valid) << OutcomeText(r.outcome);
    EXPECT_EQ(r.registers, (std::vector<std::uint16_t>{0x002A, 0xFF01}));
    EXPECT_EQ(r.reply, reply);
}

TEST_F(TcpLinkTest, RtuOverTcpKeepsTheCrcCheckAndALeftoverIsDiscardedAtTheNextOpen)
{
    make(GatewayKind::RtuOverTcp);
    ASSERT_EQ(open(), 0);
    ASSERT_TRUE(gw.accept());
    auto p = startRead(7);
    gw.read(8);
    Bytes bad = withCrc(Bytes{7, 0x03, 0x04, 0x00, 0x2A, 0xFF, 0x01});
    bad.back() ^= 0x01;
    gw.send(bad);
    EXPECT_EQ(OutcomeText(finish(std::move(p)).outcome), "-CRC-");
    // A late byte waits; the next open throws it away, as a serial open flushes.
    gw.send({0x55});
    ::usleep(50000);
    EXPECT_EQ(link->GetInQLen(kCom), 1);
    ASSERT_EQ(open(), 0);
    EXPECT_EQ(link->GetInQLen(kCom), 0);
}

TEST_F(TcpLinkTest, ModbusTcpSendsMbapWithRisingTransactionIdsAndTakesOnlyTheMatchingReply)
{
    make(GatewayKind::ModbusTcp);
    ASSERT_EQ(open(), 0);
    ASSERT_TRUE(gw.accept());
    auto p1 = startRead(7);
    EXPECT_EQ(gw.read(12), (Bytes{0x00, 0x01, 0x00, 0x00, 0x00, 0x06, 7, 0x03, 0x00, 0x00, 0x00, 0x02}));
    // No reply in time: no response.
    EXPECT_EQ(finish(std::move(p1)).outcome.result, ExchangeResult::NoResponse);

    ASSERT_EQ(open(), 0);
    auto p2 = startRead(7);
    const Bytes req2 = gw.read(12);
    ASSERT_EQ(req2.size(), 12u);
    EXPECT_EQ(req2[0] << 8 | req2[1], 2);
    // The first request's reply, late, then the second's: only the second is taken.
    Bytes both = mbapFrame(1, {7, 0x03, 0x04, 0x11, 0x11, 0x22, 0x22});
    const Bytes right = mbapFrame(2, Bytes{7, 0x03, 0x04, 0x00, 0x2A, 0xFF, 0x01});
    both.insert(both.end(), right.begin(), right.end());
    gw.send(both);
    const RtuResult r = finish(std::move(p2));
    EXPECT_EQ(r.outcome.result, ExchangeResult::Valid) << OutcomeText(r.outcome);
    EXPECT_EQ(r.registers, (std::vector<std::uint16_t>{0x002A, 0xFF01}));
    // The traffic monitor is told the frames as they went over the wire: the late one is not
    // the reply.
    const WireFrames wire = link->LastWireFrames();
    EXPECT_EQ(wire.request, req2);
    EXPECT_EQ(wire.reply, right);
}

namespace {

struct MbapReplyCase {
    const char* name;
    Bytes unitPdu;  // sent as the reply to transaction 1
    std::string text;   // OutcomeText of the exchange
};

class MbapReplies : public TcpLinkTest, public ::testing::WithParamInterface<MbapReplyCase> {};

}  // namespace

TEST_P(MbapReplies, EveryCheckButTheCrcApplies)
{
    const auto& c = GetParam();
    make(GatewayKind::ModbusTcp);
    ASSERT_EQ(open(), 0);
    ASSERT_TRUE(gw.accept());
    auto p = startRead(7);
    gw.read(12);
    gw.send(mbapFrame(1, c.unitPdu));
    EXPECT_EQ(OutcomeText(finish(std::move(p)).outcome), c.text);
}

INSTANTIATE_TEST_SUITE_P(Table, MbapReplies,
                         ::testing::Values(MbapReplyCase{"Valid", {7, 0x03, 0x04, 0, 1, 0, 2}, ""},
                                           MbapReplyCase{"OtherUnit", {9, 0x03, 0x04, 0, 1, 0, 2}, "-UID-"},
                                           MbapReplyCase{"OtherFunction", {7, 0x04, 0x04, 0, 1, 0, 2}, "-FUNCCODE-"},
                                           MbapReplyCase{"WrongByteCount", {7, 0x03, 0x05, 0, 1, 0, 2}, "-BYTESNUM-"},
                                           MbapReplyCase{"Exception", {7, 0x83, 0x02}, "-EXCEPTION 2-"},
                                           MbapReplyCase{"ShortReply", {7, 0x03, 0x02, 0, 1}, "-NO RESPONSE-"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TcpLinkTest, ALyingLengthDropsTheConnectionWithItsReasonAndTheNextOpenReconnects)
{
    make(GatewayKind::ModbusTcp);
    ASSERT_EQ(open(), 0);
    ASSERT_TRUE(gw.accept());
    auto p = startRead(7);
    gw.read(12);
    Bytes lie = mbapFrame(1, {7, 0x03, 0x04, 0, 1, 0, 2}, 1000);
    lie.resize(lie.size() + 400, 0xEE);
    gw.send(lie);
    const RtuResult r = finish(std::move(p));
    EXPECT_EQ(r.outcome.result, ExchangeResult::SerialError);
    const std::string where = "127.0.0.1:" + std::to_string(gw.port);
    EXPECT_NE(r.outcome.serialErrorText.find(where), std::string::npos) << r.outcome.serialErrorText;
    EXPECT_NE(r.outcome.serialErrorText.find("length field says 1000"), std::string::npos) << r.outcome.serialErrorText;
    EXPECT_EQ(link->DevicePath(kCom), "");
    ASSERT_EQ(open(), 0);
    ASSERT_TRUE(gw.accept());
    auto again = startRead(7);
    EXPECT_EQ(gw.read(12).size(), 12u);
    gw.send(mbapFrame(2, {7, 0x03, 0x04, 0, 1, 0, 2}));
    EXPECT_TRUE(finish(std::move(again)).outcome.valid());
}

// A gateway that closes: a reply it sent just before is still taken; the loss shows after
// it, with where and why, on every call until the next open, which connects anew.
TEST_F(TcpLinkTest, AGatewayThatClosesIsTakenAtItsWordThenNamedAndTheNextOpenReconnects)
{
    for (GatewayKind kind : {GatewayKind::RtuOverTcp, GatewayKind::ModbusTcp})
        for (bool repliedFirst : {false, true}) {
            SCOPED_TRACE(std::string(kind == GatewayKind::ModbusTcp ? "Modbus TCP" : "RTU over TCP") +
                         (repliedFirst ? ", a reply just before the close" : ", no reply"));
            make(kind);
            ASSERT_EQ(open(), 0);
            ASSERT_TRUE(gw.accept());
            auto p = startRead(7);
            gw.read(kind == GatewayKind::ModbusTcp ? 12 : 8);
            if (repliedFirst)
                gw.send(kind == GatewayKind::ModbusTcp ? mbapFrame(1, {7, 0x03, 0x04, 0, 1, 0, 2})
                                                       : withCrc({7, 0x03, 0x04, 0, 1, 0, 2}));
            gw.drop();
            if (repliedFirst)
                ::usleep(50000);  // the close is in before the master looks
            const RtuResult r = finish(std::move(p));
            if (repliedFirst) {
                EXPECT_TRUE(r.outcome.valid()) << OutcomeText(r.outcome);
                EXPECT_EQ(r.registers, (std::vector<std::uint16_t>{1, 2}));
            } else {
                EXPECT_EQ(r.outcome.result, ExchangeResult::SerialError);
                EXPECT_EQ(r.outcome.serialErrorText,
                          "Connection lost: 127.0.0.1:" + std::to_string(gw.port) + " (closed by the gateway)");
                EXPECT_EQ(link->GetRS232ErrorString(RS_ERR_DEVICE_GONE), r.outcome.serialErrorText);
            }
            // Lost until the next open makes a new connection: every call says so.
            EXPECT_EQ(link->GetInQLen(kCom), RS_ERR_DEVICE_GONE);
            EXPECT_EQ(link->ComWrt(kCom, kRead2.data(), 6), RS_ERR_DEVICE_GONE);
            ASSERT_EQ(open(), 0);
            ASSERT_TRUE(gw.accept());
            EXPECT_EQ(link->GetInQLen(kCom), 0);
        }
}

TEST_F(TcpLinkTest, AConnectionThatAnswersOneSlaveNothingIsMadeAnewAfterThreeRequestsAndOneThatAnswersOrScansIsKept)
{
    for (GatewayKind kind : {GatewayKind::RtuOverTcp, GatewayKind::ModbusTcp}) {
        SCOPED_TRACE(kind == GatewayKind::ModbusTcp ? "Modbus TCP" : "RTU over TCP");
        make(kind);
        ASSERT_EQ(open(), 0);
        ASSERT_TRUE(gw.accept());
        const Bytes req = withCrc({7, 0x03, 0, 0, 0, 2});
        const std::size_t wire = kind == GatewayKind::ModbusTcp ? 12 : 8;
        // Answered requests, however many, keep the connection.
        for (int i = 0; i < 4; ++i) {
            ASSERT_EQ(open(), 0);
            ASSERT_EQ(link->ComWrt(kCom, req.data(), 8), 8);
            const Bytes got = gw.read(wire);
            gw.send(kind == GatewayKind::ModbusTcp ? mbapFrame(static_cast<std::uint16_t>(got[0] << 8 | got[1]),
                                                               {7, 0x03, 0x04, 0, 1, 0, 2})
                                                   : withCrc({7, 0x03, 0x04, 0, 1, 0, 2}));
            ::usleep(20000);
            EXPECT_GT(link->GetInQLen(kCom), 0);
        }
        // Two unanswered requests: still the same connection.
        for (int i = 0; i < 2; ++i) {
            ASSERT_EQ(open(), 0);
            ASSERT_EQ(link->ComWrt(kCom, req.data(), 8), 8);
            gw.read(wire);
        }
        ASSERT_EQ(open(), 0);
        ASSERT_EQ(link->ComWrt(kCom, req.data(), 8), 8);
        EXPECT_EQ(gw.read(wire).size(), wire) << "the third goes out on the same connection";
        // After the third unanswered one, the next opening connects anew.
        ASSERT_EQ(open(), 0);
        EXPECT_TRUE(gw.closedByPeer());
        EXPECT_TRUE(gw.accept());
        // A scan: every request to another slave, none answered. The connection stays.
        for (std::uint8_t slave = 1; slave <= 8; ++slave) {
            ASSERT_EQ(open(), 0);
            const Bytes probe = withCrc({slave, 0x03, 0, 67, 0, 1});
            ASSERT_EQ(link->ComWrt(kCom, probe.data(), 8), 8);
            EXPECT_EQ(gw.read(wire).size(), wire) << "probe of slave " << int(slave) << " on the same connection";
        }
    }
}

TEST_F(TcpLinkTest, AClosedConnectionFoundAtTheOpenIsMadeAgain)
{
    make(GatewayKind::RtuOverTcp);
    ASSERT_EQ(open(), 0);
    ASSERT_TRUE(gw.accept());
    gw.drop();
    ::usleep(50000);
    ASSERT_EQ(open(), 0);
    EXPECT_TRUE(gw.accept()) << "a new connection was made";
}

TEST_F(TcpLinkTest, AGatewayThatRefusesIsNamedWithTheReason)
{
    const int port = gw.port;
    ::close(gw.listener);
    gw.listener = -1;
    link = std::make_unique<TcpRs232>(TcpEndpoint{"127.0.0.1", port, GatewayKind::RtuOverTcp});
    EXPECT_EQ(open(), RS_ERR_CANNOT_OPEN);
    EXPECT_EQ(link->GetRS232ErrorString(link->ReturnRS232Err()),
              "Cannot connect: 127.0.0.1:" + std::to_string(port) + " (Connection refused)");
    EXPECT_EQ(link->ComWrt(kCom, kRead2.data(), 6), RS_ERR_NOT_OPEN);
    EXPECT_EQ(link->GetInQLen(kCom), RS_ERR_NOT_OPEN);
}

TEST_F(TcpLinkTest, AnUnknownHostAndAnEmptyOneAreNamed)
{
    link = std::make_unique<TcpRs232>(TcpEndpoint{"", 502, GatewayKind::ModbusTcp});
    EXPECT_EQ(open(), RS_ERR_BAD_SETTINGS);
    link = std::make_unique<TcpRs232>(TcpEndpoint{"no-such-host.invalid", 502, GatewayKind::ModbusTcp});
    // The lookup runs beside the caller; the openings that follow take its answer.
    std::string said;
    int rc = RS_ERR_CONNECTING;
    for (int i = 0; i < 100 && rc == RS_ERR_CONNECTING; ++i)
        rc = open();
    EXPECT_EQ(rc, RS_ERR_CANNOT_OPEN);
    said = link->GetRS232ErrorString(rc);
    EXPECT_EQ(said.rfind("Cannot connect: no-such-host.invalid:502 (", 0), 0u) << said;
    EXPECT_EQ(said.find("still trying"), std::string::npos) << said;
    EXPECT_EQ(EndpointText({"fe80::1", 502, GatewayKind::ModbusTcp}), "[fe80::1]:502");
}

TEST_F(TcpLinkTest, AHostNameIsLookedUpBesideTheCallerOnceAndConnectsWhenAnswered)
{
    std::promise<void> answer;
    std::shared_future<void> answered = answer.get_future().share();
    auto asked = std::make_shared<std::atomic<int>>(0);
    Resolver slow = [asked, answered](const std::string&, int port, std::vector<ResolvedAddress>& found,
                                      std::string& error) {
        ++*asked;
        answered.wait();
        return SystemResolve("127.0.0.1", port, found, error);
    };
    link = std::make_unique<TcpRs232>(TcpEndpoint{"gateway.site", gw.port, GatewayKind::RtuOverTcp}, slow);
    // A name server that does not answer holds no opening, and is not asked twice.
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(open(), RS_ERR_CONNECTING);
        EXPECT_EQ(link->GetRS232ErrorString(RS_ERR_CONNECTING),
                  "Cannot connect: gateway.site:" + std::to_string(gw.port) + " (looking the name up, still trying)");
    }
    EXPECT_EQ(link->ComWrt(kCom, kRead2.data(), 6), RS_ERR_NOT_OPEN);
    EXPECT_EQ(asked->load(), 1);
    answer.set_value();
    int rc = RS_ERR_CONNECTING;
    for (int i = 0; i < 100 && rc == RS_ERR_CONNECTING; ++i)
        rc = open();
    ASSERT_EQ(rc, 0) << link->GetRS232ErrorString(link->ReturnRS232Err());
    ASSERT_TRUE(gw.accept());
    EXPECT_EQ(asked->load(), 1);
}

TEST(LinkSwitchTest, AGatewayNameOpensTheGatewayAndAnyOtherTheSerialPort)
{
    VirtualClock vclock;
    MemoryRs232 serial(vclock);
    LinkSwitch link(serial);
    Gateway gw;
    const TcpEndpoint e{"127.0.0.1", gw.port, GatewayKind::ModbusTcp};

    ASSERT_EQ(link.OpenComConfig(kCom, "", 9600, RS_PARITY_NONE, 8, 1, 512, -1), 0);
    EXPECT_TRUE(serial.isOpen(kCom));
    EXPECT_EQ(link.network(), nullptr);

    ASSERT_EQ(link.OpenComConfig(kCom, NetworkDeviceName(e), 9600, RS_PARITY_NONE, 8, 1, 512, -1), 0);
    ASSERT_TRUE(gw.accept());
    EXPECT_FALSE(serial.isOpen(kCom)) << "the serial port is let go while the gateway is used";
    ASSERT_NE(link.network(), nullptr);
    EXPECT_EQ(link.DevicePath(kCom), "127.0.0.1:" + std::to_string(gw.port) + " (Modbus TCP)");
    // Requests go to the gateway, in its framing.
    const Bytes req = withCrc({1, 0x03, 0, 0, 0, 2});
    EXPECT_EQ(link.ComWrt(kCom, req.data(), static_cast<int>(req.size())), 8);
    EXPECT_EQ(gw.read(12), (Bytes{0, 1, 0, 0, 0, 6, 1, 0x03, 0, 0, 0, 2}));
    EXPECT_TRUE(serial.frames.empty());

    // Back to the serial port: the connection is closed.
    ASSERT_EQ(link.OpenComConfig(kCom, "", 9600, RS_PARITY_NONE, 8, 1, 512, -1), 0);
    EXPECT_EQ(link.network(), nullptr);
    EXPECT_TRUE(serial.isOpen(kCom));
    EXPECT_TRUE(gw.closedByPeer()) << "the gateway sees the connection end";
}
