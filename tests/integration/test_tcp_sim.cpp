// The network link against the simulator serving TCP on 127.0.0.1, for both kinds of
// gateway: the poll cycle as the program runs it (open the link, one exchange), a write and
// its readback, a gateway that drops the connection between polls (made again at the next
// open), and one that goes away and comes back (named while gone, polled again after).
#include <gtest/gtest.h>

#include "mb_rtu_master.h"
#include "sim_harness.h"
#include "tcp_rs232.h"

using namespace vek;
using namespace vek::platform;

namespace {

constexpr int kCom = 1;
constexpr int kUidRegister = 25;      // the transmitter's own slave address
constexpr int kModelRegister = 68;    // 17: the 5 m gauge
constexpr int kEmissionRegister = 26; // a plain set-up value

struct Kind {
    const char* name;
    GatewayKind kind;
    const char* arg;
};

class TcpSim : public ::testing::TestWithParam<Kind> {
protected:
    simtest::SimProcess sim;
    SleepClock clock;
    LinkState s;
    std::unique_ptr<TcpRs232> link;
    std::string where;

    void startSim(std::vector<std::string> extra)
    {
        std::vector<std::string> args = {"--tcp", "0", "--tcp-kind", GetParam().arg, "--static", "--seed", "7"};
        args.insert(args.end(), extra.begin(), extra.end());
        ASSERT_TRUE(sim.start(args)) << sim.error();
        where = sim.device();
        const auto colon = where.rfind(':');
        ASSERT_NE(colon, std::string::npos) << where;
        link = std::make_unique<TcpRs232>(
            TcpEndpoint{where.substr(0, colon), std::stoi(where.substr(colon + 1)), GetParam().kind});
        s.usPortNumber = kCom;
    }
    // What a poll does: open the link (the line settings are the gateway's), then one read of
    // the 78 registers; the text of the opening's error, if any, comes back in `openError`.
    RtuResult poll(std::string* openError = nullptr)
    {
        OpenComConfig_Vek(s, *link, kCom, "", 0, 0, 8, 1, 512, -1);
        const int err = link->ReturnRS232Err();
        if (openError)
            *openError = err < 0 ? link->GetRS232ErrorString(err) : "";
        MasterIo io{*link, clock};
        return ReadHoldingRegisters(s, io, kCom, 1, 0, 78, ReplyWait{1.0, true, 9600, false});
    }
    RtuResult write(int reg, std::uint16_t value)
    {
        OpenComConfig_Vek(s, *link, kCom, "", 0, 0, 8, 1, 512, -1);
        MasterIo io{*link, clock};
        return WriteSingleRegister(s, io, kCom, 1, reg, value, ReplyWait{2.0, true, 9600, false});
    }
};

}  // namespace

TEST_P(TcpSim, PollsWritesAndSurvivesTheGatewayDroppingAndLeaving)
{
    // The connection is dropped after every 2nd reply; after the 4th request the gateway
    // goes away altogether and is back 1.5 s later.
    startSim({"--close-after", "2", "--hangup-after", "4", "--return-after-ms", "1500"});

    const RtuResult first = poll();
    ASSERT_EQ(first.outcome.result, ExchangeResult::Valid) << OutcomeText(first.outcome);
    ASSERT_EQ(first.registers.size(), 78u);
    EXPECT_EQ(first.registers[kUidRegister - 1], 1);
    EXPECT_EQ(first.registers[kModelRegister - 1], 17);
    // The master sees the serial frames whatever the kind: its request, the reply with a CRC.
    EXPECT_EQ(first.request.size(), 8u);
    EXPECT_EQ(first.reply.size(), 161u);

    const std::uint16_t value = first.registers[kEmissionRegister - 1] == 321 ? 322 : 321;
    const RtuResult w = write(kEmissionRegister, value);
    EXPECT_EQ(w.outcome.result, ExchangeResult::Valid) << OutcomeText(w.outcome);
    EXPECT_EQ(w.reply, w.request) << "a write is answered by its echo";

    // The gateway closed the connection after that reply: the next poll opens a new one.
    std::string openError;
    const RtuResult second = poll(&openError);
    EXPECT_EQ(openError, "");
    ASSERT_EQ(second.outcome.result, ExchangeResult::Valid) << OutcomeText(second.outcome);
    EXPECT_EQ(second.registers[kEmissionRegister - 1], value) << "the write took";

    // The 4th request is answered, then the gateway leaves.
    EXPECT_TRUE(poll().outcome.valid());
    const RtuResult gone = poll(&openError);
    EXPECT_FALSE(gone.outcome.valid());
    EXPECT_EQ(openError, "Cannot connect: " + where + " (Connection refused)");

    // Back after 1.5 s: a poll then is valid again, with no other step.
    bool back = false;
    for (int i = 0; i < 30 && !back; ++i) {
        clock.Delay(0.1);
        back = poll().outcome.valid();
    }
    EXPECT_TRUE(back) << sim.stderrText();
}

TEST_P(TcpSim, TheSimulatorsFaultsAreNamedAsOnTheLine)
{
    startSim({"--wrong-slave", "every:2", "--exception", "3,every:3"});
    // Requests 1..4: valid, another slave, exception 3, another slave.
    for (const char* expected : {"", "-UID-", "-EXCEPTION 3-", "-UID-"}) {
        SCOPED_TRACE(expected);
        EXPECT_EQ(OutcomeText(poll().outcome), expected);
    }
}

TEST_P(TcpSim, ALateReplyIsNeverTakenForTheNextRequest)
{
    // Every 2nd reply comes 1.2 s late, past the poll's 1 s; the next reply queues behind it.
    startSim({"--delay-ms", "1200,every:2"});
    ASSERT_TRUE(poll().outcome.valid());
    EXPECT_EQ(poll().outcome.result, ExchangeResult::NoResponse);
    // The write goes out while the late reply is on its way: both arrive together.
    const RtuResult w = write(kEmissionRegister, 77);
    if (GetParam().kind == GatewayKind::ModbusTcp) {
        // Its transaction id tells the late read reply from the echo: only the echo is taken.
        EXPECT_EQ(w.outcome.result, ExchangeResult::Valid) << OutcomeText(w.outcome);
        EXPECT_EQ(w.reply, w.request);
    } else {
        // The serial frames carry no such id: as on a line, the bytes are too many to be the
        // echo, and nothing is taken for it.
        EXPECT_EQ(w.outcome.result, ExchangeResult::NoResponse) << OutcomeText(w.outcome);
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, TcpSim,
                         ::testing::Values(Kind{"RtuOverTcp", GatewayKind::RtuOverTcp, "rtu"},
                                           Kind{"ModbusTcp", GatewayKind::ModbusTcp, "mbap"}),
                         [](const auto& info) { return std::string(info.param.name); });
