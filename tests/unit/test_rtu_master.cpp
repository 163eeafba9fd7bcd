// One exchange of the master link over the in-memory line with the virtual clock: what
// leaves the port, how long it waits, the outcome it returns, and what the main window
// shows of it (polls and writes run through the application's one exchange helper).
#include <gtest/gtest.h>

#include "mb_functions.h"
#include "mb_rtu_master.h"
#include "rig.h"
#include "run_to_end.h"
#include "vek_app.h"

using namespace vek;
using namespace vek::test;

namespace {

constexpr int kPort = 1;

struct LinkTest : ::testing::Test {
    Rig rig;
    LinkState& s = rig.app.link;
    MasterIo io{rig.com, rig.clock};
    ExchangeOutcome last;

    void SetUp() override
    {
        s.usPortNumber = kPort;
        OpenComConfig_Vek(s, rig.com, kPort, "", s.ulBaudRate, s.usParity, s.usNumBits, s.usStopBit, 512, -1);
    }
    // Answers every frame with `reply` after `after` seconds.
    void answerWith(Bytes reply, double after = 0.2)
    {
        rig.com.peer = [this, reply, after](int port, const Bytes&) { rig.com.injectAfter(port, after, reply); };
    }
    void poll()
    {
        last = test::RunToEnd(ExchangeWithSlave(
                            rig.app,
                            [this](LinkState& l, MasterIo& io, int port) {
                                return StartReadHoldingRegisters(l, io, port, 1, 0, 78,
                                                                 ReplyWaitOf(rig.app, 1.0, false));
                            },
                            ""))
                   .outcome;
    }
    void write(int reg, std::uint16_t value)
    {
        last = test::RunToEnd(ExchangeWithSlave(
                            rig.app,
                            [this, reg, value](LinkState& l, MasterIo& io, int port) {
                                return StartWriteSingleRegister(l, io, port, 1, reg, value,
                                                                ReplyWaitOf(rig.app, 2.0));
                            },
                            ""))
                   .outcome;
    }
};

}  // namespace

TEST_F(LinkTest, ValidPollIsTakenWholeClearsTheMessageAndWaitsOnlyTheCallersSecond)
{
    const Bytes reply = pollReply(1, sampleRegisters());
    answerWith(reply);
    rig.panels.SetCtrlVal(rig.app.st.panelMain, PANEL_ERROR_COM_MSG, "-OLD-");
    poll();
    ASSERT_EQ(rig.com.frames.size(), 1u);
    EXPECT_EQ(rig.com.frames[0], (Bytes{0x01, 0x03, 0x00, 0x00, 0x00, 0x4E, 0xC5, 0xFE}));
    EXPECT_EQ(s.usRxFrameLen, 161u);
    EXPECT_EQ(s.responseValid, 1);
    EXPECT_EQ(Bytes(s.ucRxBuffer, s.ucRxBuffer + 161), reply);
    EXPECT_EQ(rig.message(), "");
    EXPECT_EQ(rig.led(), 0);
    EXPECT_DOUBLE_EQ(rig.clock.totalDelayed(), 1.0) << "function 3 must not wait inside the receive";
    EXPECT_EQ(rig.com.queued(kPort), 0u);
}

TEST_F(LinkTest, AWriteEndsOnceItsWholeEchoIsInAndTheLineIsQuietAndChecksTheEcho)
{
    rig.com.peer = [this](int port, const Bytes& f) { rig.com.injectAfter(port, 1.5, f); };  // a good echo
    write(12, 500);
    EXPECT_EQ(rig.com.frames.back(), (Bytes{0x01, 0x06, 0x00, 0x0B, 0x01, 0xF4, 0xF8, 0x1F}));
    EXPECT_EQ(s.usRxFrameLen, 8u);
    EXPECT_GE(rig.clock.totalDelayed(), 1.5 + QuietTime(9600)) << "the whole quiet time after the echo";
    EXPECT_LE(rig.clock.totalDelayed(), 1.5 + 1.5 * QuietTime(9600)) << "not the old fixed 2 s";
    EXPECT_EQ(s.responseValid, 1);
    EXPECT_EQ(rig.message(), "");

    // An echo naming another value is not the write we asked for.
    rig.com.peer = [this](int port, const Bytes&) {
        rig.com.inject(port, withCrc({0x01, 0x06, 0x00, 0x0B, 0x01, 0xF5}));
    };
    write(12, 500);
    EXPECT_EQ(s.responseValid, 0);
    EXPECT_EQ(rig.message(), "-BYTESNUM-");
    EXPECT_EQ(rig.led(), 1);
    EXPECT_EQ(s.ucFlagNumBytes, 1);
}

// When a write's wait ends: the reply's pieces arrive at the times given (seconds after the
// send); the wait ends the quiet time after the whole frame, or at the 2 s limit.
TEST_F(LinkTest, AWriteOrReadWaitsForItsWholeReplyAndTheQuietAfterItNoLongerAndNoShorter)
{
    const Bytes echo = {0x01, 0x06, 0x00, 0x0B, 0x01, 0xF4, 0xF8, 0x1F};
    const Bytes refusal = withCrc({0x01, 0x86, 0x02});
    struct Piece {
        double at;
        Bytes bytes;
    };
    struct Case {
        const char* what;
        long baud;
        std::vector<Piece> pieces;
        double endsAt;  // plus the quiet time, unless at the limit
        const char* message;
    };
    const Case cases[] = {
        {"a quick echo at 9600", 9600, {{0.020, echo}}, 0.020, ""},
        {"a quick echo at 19200", 19200, {{0.010, echo}}, 0.010, ""},
        {"an echo in two pieces",
         9600,
         {{0.010, Bytes(echo.begin(), echo.begin() + 3)}, {0.500, Bytes(echo.begin() + 3, echo.end())}},
         0.500,
         ""},
        {"a byte inside the quiet time makes it long",
         9600,
         {{0.020, echo}, {0.0215, {0x00}}},
         0.0215,
         "-NO RESPONSE-"},
        {"an exception", 9600, {{0.030, refusal}}, 0.030, "-EXCEPTION 2-"},
        {"nothing", 9600, {}, 2.0, "-NO RESPONSE-"},
        {"half an echo", 9600, {{0.020, Bytes(echo.begin(), echo.begin() + 4)}}, 2.0, "-NO RESPONSE-"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        s.ulBaudRate = c.baud == 19200 ? 1 : 9600;
        rig.com.peer = [this, &c](int port, const Bytes&) {
            for (const Piece& p : c.pieces)
                rig.com.injectAfter(port, p.at, p.bytes);
        };
        const double before = rig.clock.totalDelayed();
        write(12, 500);
        const double waited = rig.clock.totalDelayed() - before;
        if (c.endsAt >= 2.0) {
            EXPECT_DOUBLE_EQ(waited, 2.0);
        } else {
            EXPECT_GE(waited, c.endsAt + QuietTime(c.baud) - 1e-9);
            EXPECT_LE(waited, c.endsAt + 1.5 * QuietTime(c.baud) + 1e-9);
        }
        EXPECT_EQ(rig.message(), c.message);
        OpenComConfig_Vek(s, rig.com, kPort, "", s.ulBaudRate, 0, 8, 1, 512, -1);  // empties the queue
    }
    EXPECT_DOUBLE_EQ(QuietTime(9600), 3.5 * 11 / 9600.0);
}

TEST_F(LinkTest, EachFailedCheckNamesItselfAndAllFourComeInOrder)
{
    struct Case {
        const char* what;
        Bytes reply;
        const char* message;
        std::uint8_t failed;
    };
    Bytes swapped = pollReply(1, sampleRegisters());
    std::swap(swapped[159], swapped[160]);
    Bytes shortCount = pollReply(1, sampleRegisters());
    shortCount[2] = 154;
    shortCount = withCrc(Bytes(shortCount.begin(), shortCount.end() - 2));
    Bytes allBad = pollReply(2, sampleRegisters());
    allBad[1] = 4;
    allBad[2] = 154;
    allBad[160] ^= 0xFF;
    const Case cases[] = {
        {"foreign slave", pollReply(2, sampleRegisters()), "-UID-", kCheckAddress},
        {"byte count 154", shortCount, "-BYTESNUM-", kCheckByteCount},
        {"CRC bytes swapped", swapped, "-CRC-", kCheckCrc},
        {"everything wrong", allBad, "-UID--FUNCCODE--BYTESNUM--CRC-",
         kCheckAddress | kCheckFunction | kCheckByteCount | kCheckCrc},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        answerWith(c.reply);
        poll();
        EXPECT_EQ(s.responseValid, 0);
        EXPECT_EQ(last.result, ExchangeResult::FailedChecks);
        EXPECT_EQ(last.failedChecks, c.failed);
        EXPECT_EQ(rig.message(), c.message);
        EXPECT_EQ(rig.led(), 1);
        EXPECT_EQ(s.ucFlagAddress + s.ucFlagFuncCod + s.ucFlagNumBytes + s.ucFlagCRC, 4) << "flags rest at 1";
        OpenComConfig_Vek(s, rig.com, kPort, "", 0, 0, 8, 1, 512, -1);
    }
    EXPECT_EQ(std::string("-UID--FUNCCODE--BYTESNUM--CRC-").size(), 30u);
}

TEST_F(LinkTest, AReplyOfTheWrongLengthIsMissingAndStaysQueued)
{
    for (int delta : {-1, +1}) {
        Bytes reply = pollReply(1, sampleRegisters());
        if (delta < 0)
            reply.pop_back();
        else
            reply.push_back(0x00);
        answerWith(reply);
        const std::uint32_t lenBefore = s.usLen;
        poll();
        EXPECT_EQ(rig.message(), "-NO RESPONSE-");
        EXPECT_EQ(rig.led(), 1);
        EXPECT_EQ(s.responseValid, 0);
        EXPECT_EQ(rig.com.queued(kPort), reply.size()) << "nothing is read from a reply of the wrong length";
        EXPECT_EQ(s.usLen, lenBefore);
        EXPECT_EQ(s.usNBytes, 156u);
        OpenComConfig_Vek(s, rig.com, kPort, "", 0, 0, 8, 1, 512, -1);
    }
}

TEST_F(LinkTest, ReplyArrivingAfterTheWindowIsMissingAndThePortReopeningDiscardsIt)
{
    answerWith(pollReply(1, sampleRegisters()), 1.3);  // past the 1.0 s window
    poll();
    EXPECT_EQ(rig.message(), "-NO RESPONSE-");
    rig.clock.Delay(1.0);  // the late reply lands while the program waits for the next tick
    EXPECT_EQ(rig.com.queued(kPort), 161u);

    // The next poll reopens first, as the polling cycle does; the stale reply must not be
    // taken as the answer to it.
    std::vector<std::uint16_t> fresh = sampleRegisters();
    fresh[0] = 4242;
    answerWith(pollReply(1, fresh), 0.2);
    OpenComConfig_Vek(s, rig.com, kPort, "", 0, 0, 8, 1, 512, -1);
    poll();
    EXPECT_EQ(s.responseValid, 1);
    EXPECT_EQ(s.ucRxBuffer[3] << 8 | s.ucRxBuffer[4], 4242);
}

TEST_F(LinkTest, ShortReplyFollowedByAGoodOneGivesAValidSecondPoll)
{
    Bytes shortReply = pollReply(1, sampleRegisters());
    shortReply.pop_back();
    answerWith(shortReply);
    poll();
    EXPECT_EQ(s.responseValid, 0);
    answerWith(pollReply(1, sampleRegisters()));
    OpenComConfig_Vek(s, rig.com, kPort, "", 0, 0, 8, 1, 512, -1);
    poll();
    EXPECT_EQ(s.responseValid, 1);
    EXPECT_EQ(rig.message(), "");
}

TEST_F(LinkTest, ExceptionReplyIsShownWithItsCodeAndLeavesTheRegisterImageAlone)
{
    answerWith(pollReply(1, sampleRegisters()));
    poll();
    const Bytes image(s.ucRxBuffer, s.ucRxBuffer + 161);
    answerWith(withCrc({0x01, 0x83, 0x02}));
    poll();
    EXPECT_EQ(s.responseValid, 0);
    EXPECT_EQ(rig.message(), "-EXCEPTION 2-");
    EXPECT_EQ(rig.led(), 1);
    EXPECT_EQ(last.result, ExchangeResult::Exception);
    EXPECT_EQ(last.exceptionCode, 2);
    EXPECT_EQ(s.ucExceptionCode, 2);
    EXPECT_EQ(Bytes(s.ucRxBuffer, s.ucRxBuffer + 161), image);
    EXPECT_EQ(rig.com.queued(kPort), 0u) << "an exception reply is taken";

    // A write refused by the slave says so too.
    rig.com.peer = [this](int port, const Bytes&) { rig.com.inject(port, withCrc({0x01, 0x86, 0x02})); };
    write(68, 5);
    EXPECT_EQ(rig.message(), "-EXCEPTION 2-");

    // Five bytes that are not this slave's exception are just a wrong-length reply.
    for (const Bytes& bad :
         {withCrc({0x02, 0x83, 0x02}), withCrc({0x01, 0x84, 0x02}), Bytes{0x01, 0x83, 0x02, 0x00, 0x00}}) {
        OpenComConfig_Vek(s, rig.com, kPort, "", 0, 0, 8, 1, 512, -1);
        answerWith(bad);
        poll();
        EXPECT_EQ(rig.message(), "-NO RESPONSE-");
    }
}

TEST_F(LinkTest, FiveWaitingBytesThatAreNoExceptionReplyStayQueued)
{
    for (const Bytes& bad : {withCrc({0x02, 0x83, 0x02}), withCrc({0x01, 0x03, 0x02}), Bytes{0x01, 0x83, 0x02, 0, 0}}) {
        OpenComConfig_Vek(s, rig.com, kPort, "", 0, 0, 8, 1, 512, -1);
        answerWith(bad);
        poll();
        EXPECT_EQ(rig.message(), "-NO RESPONSE-");
        EXPECT_EQ(rig.led(), 1);
        EXPECT_EQ(s.ucExceptionCode, 0);
        EXPECT_EQ(rig.com.GetInQLen(kPort), 5) << "nothing is read from them";
    }
}

TEST_F(LinkTest, SerialErrorWhileTakingAnExceptionReplyIsShownAsTheSerialError)
{
    for (int code : {platform::RS_ERR_DEVICE_GONE, platform::RS_ERR_SYSTEM}) {
        s.commError = 0;
        OpenComConfig_Vek(s, rig.com, kPort, "", 0, 0, 8, 1, 512, -1);
        answerWith(withCrc({0x01, 0x83, 0x02}));
        // First the read that takes the reply fails, then the look at what waits.
        if (code == platform::RS_ERR_DEVICE_GONE)
            rig.com.failNextRead = code;
        else
            rig.com.failNextPeek = code;
        poll();
        EXPECT_EQ(s.commError, 1) << code;
        EXPECT_EQ(s.responseValid, 0);
        EXPECT_EQ(s.ucExceptionCode, 0);
        EXPECT_EQ(last.result, ExchangeResult::SerialError);
        EXPECT_EQ(last.serialErrorText, platform::Rs232ErrorText(code));
        EXPECT_EQ(rig.message(), platform::Rs232ErrorText(code));
        EXPECT_EQ(rig.led(), 1);
    }
}

TEST_F(LinkTest, SerialErrorWhileReadingLightsTheLampAndStaysUntilTheCycleClearsIt)
{
    answerWith(pollReply(1, sampleRegisters()));
    rig.com.failNextRead = platform::RS_ERR_DEVICE_GONE;
    poll();
    EXPECT_EQ(s.commError, 1);
    EXPECT_EQ(s.responseValid, 0);
    EXPECT_EQ(rig.message(), platform::Rs232ErrorText(platform::RS_ERR_DEVICE_GONE));
    EXPECT_EQ(rig.message().find('-'), std::string::npos) << "the case that needs the lamp rule";
    EXPECT_EQ(rig.led(), 1);
    OpenComConfig_Vek(s, rig.com, kPort, "", 0, 0, 8, 1, 512, -1);
    poll();
    EXPECT_EQ(s.responseValid, 1);
    EXPECT_EQ(s.commError, 1) << "only the polling cycle's recovery clears it";
}

TEST_F(LinkTest, EverySendCountsEvenOnAClosedPortAndSlaveAddressIsCutToEightBits)
{
    rig.com.CloseCom(kPort);
    s.slaveAddress = 257;
    ModBusMasterQuery(s);
    EXPECT_EQ(s.ucTxBuffer[0], 1);
    EXPECT_EQ(SendDataMaster(s, io, kPort), 8);
    EXPECT_EQ(SendDataMaster(s, io, kPort), 8);
    EXPECT_EQ(s.pollCount, 2);
    EXPECT_DOUBLE_EQ(rig.com.timeouts[kPort], 0.5);
    last = ReceiveDataMaster(s, io, kPort);
    EXPECT_EQ(last.result, ExchangeResult::NoResponse);
    EXPECT_EQ(s.commErrorText, "-NO RESPONSE-");
}

TEST_F(LinkTest, UnknownFunctionCodeSendsThePreviousRequestAgain)
{
    s.ucFuncCod = 3;
    ModBusMasterQuery(s);
    const Bytes before(s.ucTxBuffer, s.ucTxBuffer + 8);
    s.ucFuncCod = 7;
    ModBusMasterQuery(s);
    SendDataMaster(s, io, kPort);
    rig.com.deliverWritten();
    EXPECT_EQ(rig.com.frames.back(), before);
}

TEST_F(LinkTest, WriteMultipleSendsTheWholeFrameAndChecksTheEightByteReply)
{
    const std::uint32_t values[] = {10, 258};
    s.ucFuncCod = 16;
    s.usNumCoilsRegs = 2;
    s.usCoilRegAddress = 12;
    s.us_BufferPtr = values;
    rig.com.peer = [this](int port, const Bytes& f) { rig.com.inject(port, withCrc(Bytes(f.begin(), f.begin() + 6))); };
    ModBusMasterQuery(s);
    EXPECT_EQ(SendDataMaster(s, io, kPort), 13);
    last = ReceiveDataMaster(s, io, kPort);
    EXPECT_EQ(rig.com.frames.back(),
              (Bytes{0x01, 0x10, 0x00, 0x0B, 0x00, 0x02, 0x04, 0x00, 0x0A, 0x01, 0x02, 0x12, 0x4F}));
    EXPECT_EQ(s.usRxFrameLen, 8u);
    EXPECT_EQ(s.responseValid, 1) << s.commErrorText;
    EXPECT_TRUE(last.valid());

    s.usNumCoilsRegs = 124;  // would not fit: nothing goes out, nothing is counted
    const int sent = s.pollCount;
    ModBusMasterQuery(s);
    EXPECT_EQ(SendDataMaster(s, io, kPort), 0);
    EXPECT_EQ(s.pollCount, sent);
    // A reply matching the previous request must not pass for an answer to this one.
    rig.com.inject(kPort, withCrc({0x01, 0x10, 0x00, 0x0B, 0x00, 0x02}));
    last = ReceiveDataMaster(s, io, kPort);
    EXPECT_EQ(s.responseValid, 0);
    EXPECT_EQ(last.result, ExchangeResult::NoResponse);
    EXPECT_EQ(s.commErrorText, "-NO RESPONSE-");
}

TEST(LinkChecks, ByteCountsPerFunction)
{
    LinkState s;
    struct Row {
        std::uint8_t code;
        std::uint32_t n, bytes;
    };
    for (const Row& r : {Row{3, 78, 156}, Row{4, 78, 156}, Row{1, 78, 10}, Row{2, 78, 10}, Row{5, 78, 4}, Row{6, 78, 4},
                         Row{16, 78, 1}, Row{0, 78, 1}, Row{1, 16, 2}, Row{2, 17, 3}}) {
        s.usNumCoilsRegs = r.n;
        EXPECT_EQ(RTU_NumBytes(s, r.code), r.bytes) << int(r.code) << " N=" << r.n;
        EXPECT_EQ(s.usNBytes, r.bytes);
    }
}

TEST(LinkChecks, ErrorTextNeverOutgrowsItsStorage)
{
    LinkState s;
    SetCommErrorText(s, std::string(5000, 'x'));
    EXPECT_EQ(s.commErrorText.size(), kCommErrorTextCapacity);
    SetCommErrorText(s, "-UID--FUNCCODE--BYTESNUM--CRC-");
    EXPECT_EQ(s.commErrorText, "-UID--FUNCCODE--BYTESNUM--CRC-");
}

TEST_F(LinkTest, PortOpenMapsSelectorsAndTakesPortBitsFromTheLinkSettings)
{
    struct Row {
        std::uint32_t baudSel;
        std::uint16_t paritySel;
        long baud;
        int parity;
    };
    s.usPortNumber = 3;
    s.usNumBits = 7;
    s.usStopBit = 2;
    for (const Row& r : {Row{0, 0, 9600, platform::RS_PARITY_NONE}, Row{1, 1, 19200, platform::RS_PARITY_EVEN},
                         Row{9600, 2, 9600, platform::RS_PARITY_ODD}, Row{2, 3, 9600, platform::RS_PARITY_NONE}}) {
        EXPECT_EQ(OpenComConfig_Vek(s, rig.com, 9, "ignored", r.baudSel, r.paritySel, 5, 5, 512, -1), 0);
        const auto& call = rig.com.opens.back();
        EXPECT_EQ(call.port, 3);
        EXPECT_EQ(call.baud, r.baud);
        EXPECT_EQ(call.parity, r.parity);
        EXPECT_EQ(call.dataBits, 7);
        EXPECT_EQ(call.stopBits, 2);
    }
    EXPECT_EQ(platform::RS_PARITY_EVEN, 2);
    EXPECT_EQ(platform::RS_PARITY_ODD, 1);
    rig.com.absent.insert(3);
    EXPECT_EQ(OpenComConfig_Vek(s, rig.com, 3, "", 0, 0, 8, 1, 512, -1), 0)
        << "a failed open is reported later, not here";
}
