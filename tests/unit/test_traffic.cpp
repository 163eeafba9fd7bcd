// The traffic monitor's rows: what the program records for each exchange on the in-memory
// line (good replies and every kind of fault), the words a frame is decoded into, the
// bound on the frames kept, and the saved text.
#include <gtest/gtest.h>

#include "app_rig.h"
#include "cwd_guard.h"
#include "traffic.h"

using namespace vek;
using namespace vek::test;

namespace {

struct Traffic : ::testing::Test {
    CwdGuard cwd;
    AppRig rig;
    App& app = rig.app;

    void SetUp() override { rig.configurePort(1); }

    // The transmitter answers every poll with these bytes.
    void answerWith(const AppRig::Bytes& reply)
    {
        rig.com.peer = [this, reply](int port, const AppRig::Bytes&) { rig.com.injectAfter(port, 0.05, reply); };
    }
    const TrafficFrame& frame(std::size_t i) const { return app.traffic.at(app.traffic.firstSeq() + i); }
};

}  // namespace

TEST_F(Traffic, AValidPollIsTwoRowsWithTheBytesOnTheLine)
{
    rig.transmitter();
    rig.tick();
    ASSERT_EQ(app.traffic.size(), 2u);
    const TrafficFrame& tx = frame(0);
    const TrafficFrame& rx = frame(1);
    EXPECT_TRUE(tx.sent);
    EXPECT_EQ(tx.bytes, expectedPoll(1));
    EXPECT_EQ(rig.com.frames.at(0), expectedPoll(1)) << "recording changes nothing on the wire";
    EXPECT_EQ(tx.kind, TrafficKind::Request);
    EXPECT_EQ(tx.outcome, "sent");
    EXPECT_FALSE(tx.sent && tx.failedExchange);
    EXPECT_FALSE(rx.sent);
    EXPECT_EQ(rx.bytes, rig.pollReplyFrom(1));
    EXPECT_EQ(rx.kind, TrafficKind::Valid);
    EXPECT_EQ(rx.outcome, "valid");
    EXPECT_NEAR(rx.replyMs, 1000.0, 0.5) << "the poll's reply is taken after its one-second wait";

    const auto txRow = TrafficRow(tx);
    EXPECT_EQ(txRow[1], "TX");
    EXPECT_EQ(txRow[2], "01 03 00 00 00 4E C5 FE");
    EXPECT_EQ(txRow[3], "slave 1, read holding registers (3), start register 1 (address 0), count 78");
    EXPECT_EQ(txRow[5], "");
    const auto rxRow = TrafficRow(rx);
    EXPECT_EQ(rxRow[1], "RX");
    EXPECT_EQ(rxRow[3], "slave 1, read holding registers (3), byte count 156 (78 registers)");
    EXPECT_EQ(rxRow[4], "valid");
    EXPECT_EQ(rxRow[5], "1000");
}

TEST_F(Traffic, TimesAreWallClockToTheMillisecond)
{
    rig.transmitter();
    rig.clock.advanceTo(0.25);
    rig.tick();
    // The rig's wall clock starts at 2016-03-15 00:00:00 UTC; the tests run with TZ=UTC.
    EXPECT_EQ(TrafficRow(frame(0))[0], "2016-03-15 00:00:00.250");
    EXPECT_EQ(TrafficRow(frame(1))[0], "2016-03-15 00:00:01.250");
}

TEST_F(Traffic, AWrongCrcShowsTheDamagedReply)
{
    AppRig::Bytes reply = rig.pollReplyFrom(1);
    reply.back() ^= 0x5A;
    answerWith(reply);
    rig.tick();
    ASSERT_EQ(app.traffic.size(), 2u);
    EXPECT_EQ(frame(1).bytes, reply);
    EXPECT_EQ(frame(1).kind, TrafficKind::FailedCheck);
    EXPECT_EQ(frame(1).outcome, "-CRC-");
    EXPECT_TRUE(frame(0).failedExchange) << "the request of a failed exchange counts as an error row";
    EXPECT_TRUE(frame(1).failedExchange);
}

TEST_F(Traffic, AnotherSlavesReplyIsUid)
{
    answerWith(rig.pollReplyFrom(2));
    rig.tick();
    EXPECT_EQ(frame(1).outcome, "-UID-");
    EXPECT_EQ(frame(1).bytes, rig.pollReplyFrom(2));
    EXPECT_EQ(TrafficRow(frame(1))[3].rfind("slave 2, read holding registers (3)", 0), 0u);
}

TEST_F(Traffic, AnExceptionNamesItsCode)
{
    const AppRig::Bytes reply = AppRig::withCrc({1, 0x83, 2});
    answerWith(reply);
    rig.tick();
    EXPECT_EQ(rig.mainMessage(), "-EXCEPTION 2-");
    EXPECT_EQ(frame(1).kind, TrafficKind::Exception);
    EXPECT_EQ(frame(1).bytes, reply);
    EXPECT_EQ(frame(1).outcome, "-EXCEPTION 2- Illegal data address");
    EXPECT_EQ(TrafficRow(frame(1))[3],
              "slave 1, exception to read holding registers (3): code 2 (Illegal data address)");
}

TEST_F(Traffic, NoResponseShowsWhatWaitedAndLeavesItQueued)
{
    const AppRig::Bytes junk = {1, 3, 156, 0, 1, 2, 3};
    answerWith(junk);
    rig.tick();
    EXPECT_EQ(frame(1).kind, TrafficKind::NoResponse);
    EXPECT_EQ(frame(1).bytes, junk);
    EXPECT_EQ(frame(1).outcome, "-NO RESPONSE- (7 bytes waited)");
    EXPECT_EQ(rig.com.queued(1), junk.size()) << "looking at the bytes does not take them";
}

TEST_F(Traffic, SilenceIsNoResponseWithNothing)
{
    rig.tick();
    ASSERT_EQ(app.traffic.size(), 2u);
    EXPECT_TRUE(frame(1).bytes.empty());
    EXPECT_EQ(frame(1).outcome, "-NO RESPONSE-");
    EXPECT_EQ(TrafficRow(frame(1))[3], "nothing waited");
}

TEST_F(Traffic, ASerialErrorShowsThePortsWords)
{
    rig.transmitter();
    rig.com.failNextRead = platform::RS_ERR_DEVICE_GONE;
    rig.tick();
    ASSERT_EQ(app.traffic.size(), 2u);
    EXPECT_EQ(frame(1).kind, TrafficKind::SerialError);
    EXPECT_EQ(frame(1).outcome, rig.mainMessage());
    EXPECT_FALSE(frame(1).outcome.empty());
    // The recovery tick sends nothing, so it adds no rows.
    rig.tick();
    EXPECT_EQ(app.traffic.size(), 2u);
}

TEST_F(Traffic, APortThatCannotBeOpenedShowsTheRequestAsNotSent)
{
    rig.com.absent.insert(1);
    rig.tick();
    ASSERT_TRUE(rig.com.frames.empty());
    ASSERT_EQ(app.traffic.size(), 2u);
    EXPECT_EQ(frame(0).outcome, kNotSentText);
    EXPECT_EQ(frame(0).bytes, expectedPoll(1)) << "the row keeps the request the program meant to send";
    EXPECT_TRUE(frame(0).failedExchange);
    EXPECT_EQ(frame(1).kind, TrafficKind::SerialError);
    EXPECT_EQ(frame(1).outcome, rig.mainMessage());
    rig.com.absent.clear();
    rig.transmitter();
    rig.tick();
    EXPECT_EQ(frame(2).outcome, "sent") << "a port that opens again sends again";
}

TEST_F(Traffic, ThroughAModbusTcpGatewayTheRowsShowTheFramesAsTheyWentOverTheWire)
{
    // The link reports the MBAP frames of the poll and its reply (transaction 0x0102).
    AppRig::Bytes pdu = rig.pollReplyFrom(1);
    pdu.resize(pdu.size() - 2);  // slave + PDU, no CRC
    AppRig::Bytes reply = {0x01, 0x02, 0, 0, 0, static_cast<std::uint8_t>(pdu.size())};
    reply.insert(reply.end(), pdu.begin(), pdu.end());
    rig.com.wire = {{0x01, 0x02, 0, 0, 0, 6, 1, 3, 0, 0, 0, 0x4E}, reply};
    rig.transmitter();
    rig.tick();
    ASSERT_EQ(app.traffic.size(), 2u);
    EXPECT_TRUE(frame(0).mbap && frame(1).mbap);
    EXPECT_EQ(TrafficRow(frame(0))[2], "01 02 00 00 00 06 01 03 00 00 00 4E");
    EXPECT_EQ(TrafficRow(frame(0))[3],
              "transaction 258, length 6; unit 1, read holding registers (3), start register 1 (address 0), count 78");
    EXPECT_EQ(frame(1).bytes, reply);
    EXPECT_EQ(TrafficRow(frame(1))[3],
              "transaction 258, length 159; unit 1, read holding registers (3), byte count 156 (78 registers)");

    // Whatever the link took for no reply stays in its serial form; a request never sent is
    // the program's own.
    rig.com.wire.reply.clear();
    rig.com.peer = [this](int port, const AppRig::Bytes&) { rig.com.injectAfter(port, 0.05, {1, 3}); };
    rig.tick();
    EXPECT_TRUE(frame(2).mbap);
    EXPECT_FALSE(frame(3).mbap);
    EXPECT_EQ(frame(3).bytes, (AppRig::Bytes{1, 3}));
    rig.com.absent.insert(1);
    rig.tick();
    EXPECT_FALSE(frame(4).mbap) << "a stale wire frame is never shown for a request not sent";
    EXPECT_EQ(frame(4).bytes, expectedPoll(1));
}

TEST(TrafficDecode, ModbusTcpFramesNameTheirHeaderAndCountTheirOwnBytes)
{
    const std::uint8_t write[] = {0, 9, 0, 0, 0, 6, 7, 6, 0, 25, 0, 7};
    EXPECT_EQ(DescribeMbapFrame(write, sizeof write, true),
              "transaction 9, length 6; unit 7, write single register (6), register 26 (address 25), value 7");
    const std::uint8_t refused[] = {0xFF, 0xFF, 0, 0, 0, 3, 7, 0x83, 11};
    EXPECT_EQ(DescribeMbapFrame(refused, sizeof refused, false),
              "transaction 65535, length 3; unit 7, exception to read holding registers (3): code 11 (Gateway "
              "target device failed to respond)");
    const std::uint8_t cut[] = {0, 1, 0, 0, 0, 5, 1, 3, 156, 0, 1};
    EXPECT_EQ(DescribeMbapFrame(cut, sizeof cut, false),
              "transaction 1, length 5; unit 1, read holding registers (3), byte count 156 (78 registers), 11 bytes "
              "on the line");
    const std::uint8_t other[] = {0, 1, 0, 5, 0, 2, 1, 3};
    EXPECT_EQ(DescribeMbapFrame(other, sizeof other, false).rfind("transaction 1, protocol 5, length 2; unit 1", 0), 0u);
    EXPECT_EQ(DescribeMbapFrame(other, 4, false), "a Modbus TCP frame cut short, 4 bytes");
}

TEST_F(Traffic, WithoutAPortNothingIsRecorded)
{
    rig.app.link.ucMBFlag = 0;
    rig.app.link.usPortNumber = 0;
    rig.tick();
    EXPECT_EQ(app.traffic.size(), 0u);
}

TEST(TrafficDecode, WriteSingleRegisterAndItsEcho)
{
    const auto req = expectedWrite(1, 26, 7);
    EXPECT_EQ(DescribeFrame(req.data(), req.size(), true),
              "slave 1, write single register (6), register 26 (address 25), value 7");
    EXPECT_EQ(DescribeFrame(req.data(), req.size(), false),
              "slave 1, write single register (6), register 26 (address 25), value 7 (echo)");
    const auto refused = AppRig::withCrc({9, 0x86, 3});
    EXPECT_EQ(DescribeFrame(refused.data(), refused.size(), false),
              "slave 9, exception to write single register (6): code 3 (Illegal data value)");
}

TEST(TrafficDecode, ExceptionCodesHaveTheirNames)
{
    EXPECT_EQ(ExceptionName(1), "Illegal function");
    EXPECT_EQ(ExceptionName(4), "Slave device failure");
    EXPECT_EQ(ExceptionName(6), "Slave device busy");
    EXPECT_EQ(ExceptionName(7), "");
    const auto unknown = AppRig::withCrc({1, 0x83, 7});
    EXPECT_EQ(DescribeFrame(unknown.data(), unknown.size(), false),
              "slave 1, exception to read holding registers (3): code 7");
}

TEST(TrafficDecode, ShortAndOddFramesSayWhatTheyAre)
{
    const std::uint8_t one[] = {5};
    EXPECT_EQ(DescribeFrame(one, 1, false), "slave 5, 1 byte");
    const std::uint8_t cut[] = {1, 3, 156, 0, 1};
    EXPECT_EQ(DescribeFrame(cut, sizeof cut, false),
              "slave 1, read holding registers (3), byte count 156 (78 registers), 5 bytes on the line");
    const auto many = AppRig::withCrc({1, 16, 0, 9, 0, 2, 4, 0, 1, 0x12, 0x34});
    EXPECT_EQ(DescribeFrame(many.data(), many.size(), true),
              "slave 1, write multiple registers (16), start register 10 (address 9), count 2, byte count 4, "
              "values 1 4660");
    const std::uint8_t other[] = {1, 0x2B, 0, 0};
    EXPECT_EQ(DescribeFrame(other, sizeof other, true), "slave 1, function 43, 4 bytes");
}

TEST(TrafficRecorderBound, KeepsTheLastTenThousandFrames)
{
    TrafficRecorder r;
    int changes = 0;
    r.onChange = [&] { ++changes; };
    const std::uint8_t b[] = {1, 2, 3};
    for (int i = 0; i < 10005; ++i)
        r.Record(1000.0 + i, i % 2 == 0, b, static_cast<std::size_t>(1 + i % 3), TrafficKind::Request, false, "", -1);
    EXPECT_EQ(changes, 10005);
    EXPECT_EQ(r.size(), kTrafficCapacity);
    EXPECT_EQ(r.firstSeq(), 5u);
    EXPECT_EQ(r.endSeq(), 10005u);
    EXPECT_FALSE(r.holds(4));
    EXPECT_TRUE(r.holds(5));
    EXPECT_EQ(r.at(5).seq, 5u);
    EXPECT_DOUBLE_EQ(r.at(5).wallTime, 1005.0) << "the oldest kept is the sixth recorded";
    EXPECT_EQ(r.at(10004).bytes.size(), 10004u % 3 + 1);
    const std::string text = TrafficText(r, false);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 10001);
    r.Clear();
    EXPECT_EQ(r.size(), 0u);
    EXPECT_EQ(r.firstSeq(), 10005u) << "numbers go on after a clear";
}

TEST_F(Traffic, SavedTextHasTheColumnsAndErrorsOnlyKeepsFailedExchanges)
{
    rig.transmitter();
    rig.tick();
    rig.answering = false;
    rig.tick();
    const std::string all = TrafficText(app.traffic, false);
    const std::string errors = TrafficText(app.traffic, true);
    EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 5);
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 3);
    EXPECT_EQ(all.substr(0, all.find('\n')), "Time\tDir\tBytes\tMeaning\tOutcome\tReply [ms]");
    const std::string last = errors.substr(errors.rfind('\n', errors.size() - 2) + 1);
    EXPECT_EQ(std::count(last.begin(), last.end(), '\t'), 5);
    EXPECT_NE(last.find("\tRX\t\tnothing waited\t-NO RESPONSE-\t1000\n"), std::string::npos) << last;
}

TEST_F(Traffic, TheButtonsOpenTheirWindowsThroughTheApp)
{
    RecordingToolWindows windows;
    rig.panels.PostEvent(app.st.panelMain, PANEL_TRAFFIC, EVENT_COMMIT);  // no windows wired: nothing happens
    app.windows = &windows;
    rig.panels.PostEvent(app.st.panelMain, PANEL_TRAFFIC, EVENT_COMMIT);
    rig.panels.PostEvent(app.st.panelMain, PANEL_TREND, EVENT_COMMIT);
    rig.panels.PostEvent(app.st.panelMain, PANEL_TREND, EVENT_COMMIT);
    EXPECT_EQ(windows.traffic, 1);
    EXPECT_EQ(windows.trend, 2);
}
