// The simulator's network side without a socket: its options, the Modbus TCP requests cut
// out of a stream, the replies wrapped with the request's transaction id, and the engine
// answering whole replies tagged with the request they answer, faults included.
#include <gtest/gtest.h>

#include "engine.h"
#include "options.h"
#include "ref_crc.h"
#include "tcp_frames.h"

using namespace vek::sim;
using vek::simtest::frameCrcOk;
using vek::simtest::readRequest;
using vek::simtest::withCrc;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes header(std::uint16_t tid, std::uint16_t protocol, std::uint16_t length)
{
    return {static_cast<std::uint8_t>(tid >> 8),      static_cast<std::uint8_t>(tid),
            static_cast<std::uint8_t>(protocol >> 8), static_cast<std::uint8_t>(protocol),
            static_cast<std::uint8_t>(length >> 8),   static_cast<std::uint8_t>(length)};
}
Bytes cat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace

TEST(SimTcpOptions, TakesThePortKindAndHostAndRefusesWhatDoesNotGoWithThem)
{
    auto r = parseOptions({"--tcp", "5020", "--tcp-kind=mbap", "--tcp-host", "::1", "--close-after", "3"});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.options.tcpPort, 5020);
    EXPECT_EQ(r.options.tcpKind, TcpKind::Mbap);
    EXPECT_EQ(r.options.tcpHost, "::1");
    EXPECT_EQ(r.options.closeAfter, 3u);
    struct Bad {
        std::vector<std::string> args;
        const char* says;
    };
    for (const Bad& c : std::vector<Bad>{
             {{"--tcp", "65536"}, "--tcp: '65536'"},
             {{"--tcp", "x"}, "--tcp: 'x'"},
             {{"--tcp", "1", "--tcp-kind", "ascii"}, "not rtu or mbap"},
             {{"--tcp-kind", "rtu"}, "--tcp-kind needs --tcp"},
             {{"--tcp-host", "0.0.0.0"}, "--tcp-host needs --tcp"},
             {{"--close-after", "2"}, "--close-after needs --tcp"},
             {{"--tcp", "1", "--close-after", "0"}, "at least 1"},
             {{"--tcp", "1", "--device", "/dev/ttyS0"}, "--device is for a serial line"},
             {{"--tcp", "1", "--link", "/tmp/x"}, "--link is for a serial line"},
         }) {
        const auto bad = parseOptions(c.args);
        EXPECT_FALSE(bad.ok) << c.args[0];
        EXPECT_NE(bad.error.find(c.says), std::string::npos) << bad.error;
    }
}

TEST(SimMbap, RequestsAreCutOutOfTheStreamWhateverItsPieces)
{
    const Bytes one = cat(header(0x0102, 0, 6), {1, 0x03, 0, 0, 0, 78});
    const Bytes two = cat(header(0x0103, 0, 6), {1, 0x06, 0, 25, 0, 9});
    const Bytes stream = cat(one, two);
    for (std::size_t piece : {1u, 5u, 12u, 13u, 100u}) {
        MbapSplitter sp;
        std::vector<MbapRequest> got;
        std::string error;
        for (std::size_t at = 0; at < stream.size(); at += piece) {
            sp.feed(stream.data() + at, std::min(piece, stream.size() - at));
            while (auto r = sp.next(error))
                got.push_back(*r);
        }
        EXPECT_TRUE(error.empty());
        ASSERT_EQ(got.size(), 2u) << "pieces of " << piece;
        EXPECT_EQ(got[0].transaction, 0x0102);
        EXPECT_EQ(got[0].rtu, readRequest(1, 0, 78));
        EXPECT_EQ(got[1].transaction, 0x0103);
        EXPECT_TRUE(frameCrcOk(got[1].rtu));
    }
}

TEST(SimMbap, ALengthNoRequestHasIsAnErrorAndAnotherProtocolIsPassedOnToBeIgnored)
{
    for (std::uint16_t length : {0, 1, 255, 0xFFFF}) {
        MbapSplitter sp;
        const Bytes b = cat(header(1, 0, length), {1, 3});
        sp.feed(b.data(), b.size());
        std::string error;
        EXPECT_FALSE(sp.next(error));
        EXPECT_NE(error.find(std::to_string(length)), std::string::npos) << error;
    }
    MbapSplitter sp;
    const Bytes b = cat(header(9, 7, 2), {1, 3});
    sp.feed(b.data(), b.size());
    std::string error;
    const auto r = sp.next(error);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->protocol, 7);
}

TEST(SimMbap, RepliesCarryTheTransactionIdAndNoCrc)
{
    const Bytes rtu = withCrc({1, 0x03, 2, 0x12, 0x34});
    EXPECT_EQ(mbapReply(0xBEEF, rtu), cat(header(0xBEEF, 0, 5), {1, 0x03, 2, 0x12, 0x34}));
    // A reply a fault cut to three bytes keeps them all; under two there is nothing to send.
    EXPECT_EQ(mbapReply(1, {1, 0x83, 2}), cat(header(1, 0, 3), {1, 0x83, 2}));
    EXPECT_TRUE(mbapReply(1, {1}).empty());
}

namespace {

struct TagCase {
    const char* name;
    std::function<void(FaultConfig&)> fault;
    bool answered;
    std::function<bool(const Bytes&)> check;
};

}  // namespace

TEST(SimTcpEngine, RepliesLeaveWholeWithTheTagOfTheirRequest)
{
    const std::vector<TagCase> cases = {
        {"plain", [](FaultConfig&) {}, true, [](const Bytes& b) { return b.size() == 161 && frameCrcOk(b); }},
        {"drop", [](FaultConfig& f) { f.drop = FaultRule::probability(1); }, false, nullptr},
        {"wrong slave", [](FaultConfig& f) { f.wrongSlave = FaultRule::probability(1); }, true,
         [](const Bytes& b) { return b[0] != 1 && frameCrcOk(b); }},
        {"exception", [](FaultConfig& f) {
             f.exception = FaultRule::probability(1);
             f.exceptionCode = 3;
         }, true, [](const Bytes& b) { return b == withCrc({1, 0x83, 3}); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EngineConfig cfg;
        cfg.pacing = false;
        c.fault(cfg.faults);
        const Micros t0 = 1'000'000;
        Engine e(cfg, RegisterImage::defaults(), Transmitter(RegisterImage::defaults(), 1, false), nullptr, t0);
        const Bytes req = readRequest(1, 0, 78);
        e.setTag(0x4242);
        e.receive(req, t0);
        e.tick(t0 + silenceUs(cfg.line));
        e.setTag(0x4343);  // a later request's tag does not rename a reply already queued
        const auto replies = e.takeReplies(t0 + silenceUs(cfg.line));
        ASSERT_EQ(replies.size(), c.answered ? 1u : 0u);
        if (c.answered) {
            EXPECT_EQ(replies[0].tag, 0x4242u);
            EXPECT_TRUE(c.check(replies[0].bytes));
        }
    }
}

TEST(SimTcpEngine, ALateReplyKeepsItsOwnTagAndWaitsForItsTime)
{
    EngineConfig cfg;
    cfg.pacing = false;
    cfg.faults.delay = FaultRule::probability(1);
    cfg.faults.delayMs = 500;
    const Micros t0 = 1'000'000;
    Engine e(cfg, RegisterImage::defaults(), Transmitter(RegisterImage::defaults(), 1, false), nullptr, t0);
    const Micros silence = silenceUs(cfg.line);
    e.setTag(1);
    e.receive(readRequest(1, 0, 2), t0);
    e.tick(t0 + silence);
    e.tick(t0 + silence + 499'000);
    EXPECT_TRUE(e.takeReplies(t0 + silence + 499'000).empty());
    // The loop sleeps until then (or the model's next step), never spins on the waiting reply.
    const Micros wake = e.nextWake(t0 + silence + 499'000);
    EXPECT_GT(wake, t0 + silence + 499'000);
    EXPECT_LE(wake, t0 + silence + 500'000);
    e.setTag(2);
    const auto late = e.takeReplies(t0 + silence + 500'000);
    ASSERT_EQ(late.size(), 1u);
    EXPECT_EQ(late[0].tag, 1u);
}
