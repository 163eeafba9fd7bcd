// Modbus TCP framing of the network link: a serial request becomes an MBAP frame, and the
// replies in a byte stream are matched to the request in flight, however the stream is cut.
#include <gtest/gtest.h>

#include <algorithm>

#include "mbap.h"
#include "reference_crc.h"

using namespace vek;
using namespace vek::platform;
using Bytes = std::vector<std::uint8_t>;

namespace {

// The serial frame's CRC from the bitwise reference, not the link's table: a reply handed to
// the master must carry the CRC a serial line would.
Bytes withCrc(Bytes b)
{
    const std::uint16_t crc = test::referenceCrc(b.data(), b.size());
    b.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    b.push_back(static_cast<std::uint8_t>(crc >> 8));
    return b;
}

Bytes mbapFrame(std::uint16_t tid, std::uint16_t protocol, std::uint16_t length, const Bytes& unitAndPdu)
{
    Bytes f = {static_cast<std::uint8_t>(tid >> 8),      static_cast<std::uint8_t>(tid),
               static_cast<std::uint8_t>(protocol >> 8), static_cast<std::uint8_t>(protocol),
               static_cast<std::uint8_t>(length >> 8),   static_cast<std::uint8_t>(length)};
    f.insert(f.end(), unitAndPdu.begin(), unitAndPdu.end());
    return f;
}

Bytes mbapFrame(std::uint16_t tid, const Bytes& unitAndPdu)
{
    return mbapFrame(tid, 0, static_cast<std::uint16_t>(unitAndPdu.size()), unitAndPdu);
}

// Pushes `stream` in pieces of `piece` bytes, never more than the receiver wants; returns
// every event other than None and how many bytes it took in.
struct Fed {
    std::vector<mbap::Receiver::Event> events;
    std::size_t taken = 0;
};
Fed feed(mbap::Receiver& rx, const Bytes& stream, std::size_t piece)
{
    Fed out;
    while (out.taken < stream.size()) {
        const int want = rx.Want();
        if (want == 0)
            break;
        const std::size_t n = std::min({piece, static_cast<std::size_t>(want), stream.size() - out.taken});
        const auto e = rx.Push(stream.data() + out.taken, static_cast<int>(n));
        out.taken += n;
        if (e != mbap::Receiver::Event::None)
            out.events.push_back(e);
    }
    return out;
}

}  // namespace

TEST(MbapRequest, CarriesTheSerialRequestWithoutItsCrcBehindTheHeader)
{
    const Bytes rtu = withCrc({0x05, 0x03, 0x00, 0x00, 0x00, 0x4E});
    const Bytes f = mbap::FromRtu(0x1234, rtu.data(), static_cast<int>(rtu.size()));
    EXPECT_EQ(f, (Bytes{0x12, 0x34, 0x00, 0x00, 0x00, 0x06, 0x05, 0x03, 0x00, 0x00, 0x00, 0x4E}));
}

TEST(MbapRequest, RefusesWhatNoFrameCanCarry)
{
    const Bytes tooShort = withCrc({0x05});  // no function code
    EXPECT_TRUE(mbap::FromRtu(1, tooShort.data(), static_cast<int>(tooShort.size())).empty());
    Bytes longest(1 + 253, 0x10);  // unit id + the longest PDU
    longest = withCrc(longest);
    const Bytes f = mbap::FromRtu(1, longest.data(), static_cast<int>(longest.size()));
    ASSERT_EQ(f.size(), static_cast<std::size_t>(mbap::kMaxFrame));
    EXPECT_EQ(f[4] << 8 | f[5], mbap::kMaxLength);
    Bytes tooLong(1 + 254, 0x10);
    tooLong = withCrc(tooLong);
    EXPECT_TRUE(mbap::FromRtu(1, tooLong.data(), static_cast<int>(tooLong.size())).empty());
}

namespace {

using Ev = mbap::Receiver::Event;
constexpr std::uint16_t kTid = 0x0107;  // both bytes differ: a swapped id does not match

struct ReceiveCase {
    const char* name;
    Bytes stream;               // what the gateway sends after the request went out
    std::vector<Ev> events;     // in order
    Bytes ready;                // what the master may read then
    std::size_t unreadAfter;    // bytes of the stream never read (past a refused header)
};

const Bytes kRegs = {0x03, 0x04, 0x00, 0x2A, 0xFF, 0x01};  // function 3, two registers
Bytes unitPdu(std::uint8_t unit, const Bytes& pdu)
{
    Bytes b = {unit};
    b.insert(b.end(), pdu.begin(), pdu.end());
    return b;
}
Bytes cat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<ReceiveCase> receiveCases()
{
    const Bytes good = mbapFrame(kTid, unitPdu(5, kRegs));
    return {
        {"Good", good, {Ev::Taken}, withCrc(unitPdu(5, kRegs)), 0},
        {"LateReplyThenTheRightOne", cat(mbapFrame(kTid - 1, unitPdu(5, kRegs)), good), {Ev::Dropped, Ev::Taken},
         withCrc(unitPdu(5, kRegs)), 0},
        {"OnlyALateReply", mbapFrame(kTid - 1, unitPdu(5, kRegs)), {Ev::Dropped}, {}, 0},
        {"TransactionIdBytesSwapped", mbapFrame(0x0701, unitPdu(5, kRegs)), {Ev::Dropped}, {}, 0},
        {"WrongProtocol", mbapFrame(kTid, 1, 7, unitPdu(5, kRegs)), {Ev::Dropped}, {}, 0},
        // Another unit id is kept: the master's address check names it.
        {"WrongUnitId", mbapFrame(kTid, unitPdu(9, kRegs)), {Ev::Taken}, withCrc(unitPdu(9, kRegs)), 0},
        {"ExceptionReply", mbapFrame(kTid, unitPdu(5, {0x83, 0x02})), {Ev::Taken}, withCrc({5, 0x83, 0x02}), 0},
        {"SecondCopyDropped", cat(good, good), {Ev::Taken, Ev::Dropped}, withCrc(unitPdu(5, kRegs)), 0},
        // Length fields no frame has: refused at the header, the body never read.
        {"LengthPastAnyFrame", cat(mbapFrame(kTid, 0, 255, unitPdu(5, kRegs)), Bytes(300, 0xAA)), {Ev::Refused}, {},
         6 + 300},
        {"LengthHugeHighByte", mbapFrame(kTid, 0, 0x0100 | 7, unitPdu(5, kRegs)), {Ev::Refused}, {}, 6},
        {"LengthWithoutFunctionCode", mbapFrame(kTid, 0, 1, unitPdu(5, kRegs)), {Ev::Refused}, {}, 6},
        {"LengthZero", mbapFrame(kTid, 0, 0, unitPdu(5, kRegs)), {Ev::Refused}, {}, 6},
        // A length that says less than was sent: the frame ends where it says, short, and
        // what follows is read as the next header (here one that is refused).
        {"LengthShortOfTheBody", mbapFrame(kTid, 0, 3, unitPdu(5, kRegs)), {Ev::Taken}, withCrc({5, 0x03, 0x04}), 0},
        {"HeaderOnlyNoBodyYet", Bytes(good.begin(), good.begin() + 7), {}, {}, 0},
        {"LongestFrame", mbapFrame(kTid, unitPdu(5, cat({0x03, 251}, Bytes(251, 0x11)))), {Ev::Taken},
         withCrc(unitPdu(5, cat({0x03, 251}, Bytes(251, 0x11)))), 0},
    };
}

void PrintTo(const ReceiveCase& c, std::ostream* os) { *os << c.name; }

struct MbapReceive : ::testing::TestWithParam<std::tuple<ReceiveCase, std::size_t>> {};

}  // namespace

TEST_P(MbapReceive, MatchesTheRequestInFlightWhereverTheStreamIsCut)
{
    const auto& [c, piece] = GetParam();
    mbap::Receiver rx;
    rx.Expect(kTid);
    const Fed fed = feed(rx, c.stream, piece);
    EXPECT_EQ(fed.events, c.events);
    EXPECT_EQ(rx.ready(), c.ready);
    EXPECT_EQ(c.stream.size() - fed.taken, c.unreadAfter);
    const bool refused = std::find(c.events.begin(), c.events.end(), Ev::Refused) != c.events.end();
    EXPECT_EQ(!rx.refusal().empty(), refused) << rx.refusal();
    EXPECT_EQ(rx.Want() == 0, refused);
}

INSTANTIATE_TEST_SUITE_P(Table, MbapReceive,
                         ::testing::Combine(::testing::ValuesIn(receiveCases()),
                                            ::testing::Values<std::size_t>(1, 2, 6, 7, 11, 512)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + "_by" +
                                    std::to_string(std::get<1>(info.param));
                         });

TEST(MbapReceiver, NothingIsTakenWithoutARequestInFlight)
{
    mbap::Receiver rx;
    const Fed fed = feed(rx, mbapFrame(0, unitPdu(5, kRegs)), 512);
    EXPECT_EQ(fed.events, std::vector<Ev>{Ev::Dropped});
    EXPECT_TRUE(rx.ready().empty());
}

TEST(MbapReceiver, ANewRequestDropsTheReplyLeftReadyAndTakesOnlyItsOwn)
{
    mbap::Receiver rx;
    rx.Expect(1);
    feed(rx, mbapFrame(1, unitPdu(5, kRegs)), 512);
    ASSERT_FALSE(rx.ready().empty());
    rx.Expect(2);
    EXPECT_TRUE(rx.ready().empty());
    // The first request's reply again, late: not the second one's.
    EXPECT_EQ(feed(rx, mbapFrame(1, unitPdu(5, kRegs)), 512).events, std::vector<Ev>{Ev::Dropped});
    EXPECT_EQ(feed(rx, mbapFrame(2, unitPdu(5, {0x06, 0, 1, 0, 2})), 512).events, std::vector<Ev>{Ev::Taken});
    EXPECT_EQ(rx.ready(), withCrc({5, 0x06, 0, 1, 0, 2}));
}

TEST(MbapReceiver, AHalfReadFrameGoesOnAcrossARequestAndResetForgetsIt)
{
    mbap::Receiver rx;
    rx.Expect(3);
    const Bytes f = mbapFrame(3, unitPdu(5, kRegs));
    rx.Push(f.data(), 4);
    rx.Expect(3);  // a frame under way is part of the stream, whatever goes out meanwhile
    EXPECT_EQ(rx.Push(f.data() + 4, 3), Ev::None);
    EXPECT_EQ(rx.Want(), static_cast<int>(f.size()) - 7);
    rx.Reset();
    EXPECT_EQ(rx.Want(), mbap::kHeaderSize);
    const Bytes bad = mbapFrame(3, 0, 999, {5});
    EXPECT_EQ(rx.Push(bad.data(), 6), Ev::None) << "one byte short of the header";
    EXPECT_EQ(rx.Push(bad.data() + 6, 1), Ev::Refused);
    EXPECT_EQ(rx.Want(), 0);
    rx.Reset();
    EXPECT_TRUE(rx.refusal().empty());
    EXPECT_EQ(rx.Want(), mbap::kHeaderSize);
}
