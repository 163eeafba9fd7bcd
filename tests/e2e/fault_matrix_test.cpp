// The fault matrix: every way a reply can go wrong on the line, injected by the simulator,
// against the whole program. For each: the message and lamp on the main window, counters
// that agree with what the transmitter saw, no value taken from a bad reply, and the next
// good reply clearing the message. Then an adapter that goes away and comes back, and
// replies that arrive after their window.
#include <filesystem>
#include <set>

#include "harness.h"
#include "rs232.h"
#include "traffic.h"

namespace vek::e2e {
namespace {

constexpr int kPollTimeoutMs = 9000;

struct FaultRow {
    const char* name;
    QStringList options;  // hits every second request, so a good reply comes before and after
    const char* message;
    // How to find the register image in the faulty reply as sent, or nothing when it has none.
    enum { NoImage, ImageFirst, ImageLast } image;
    // Whether the faulty reply is on the line when the program stops waiting for it (the
    // traffic then shows its bytes), or not (nothing was sent, or it comes too late).
    bool waitsInTime = true;
};

std::ostream& operator<<(std::ostream& os, const FaultRow& r) { return os << r.name; }

const FaultRow kRows[] = {
    {"DroppedRequest", {"--drop", "every:2"}, "-NO RESPONSE-", FaultRow::NoImage, false},
    {"ReplyLatePastTheWindow", {"--delay-ms", "1500,every:2"}, "-NO RESPONSE-", FaultRow::ImageFirst, false},
    {"CorruptCrc", {"--corrupt-crc", "every:2"}, "-CRC-", FaultRow::ImageFirst},
    {"WrongSlave", {"--wrong-slave", "every:2"}, "-UID-", FaultRow::ImageFirst},
    {"OneByteShort", {"--short", "every:2"}, "-NO RESPONSE-", FaultRow::ImageFirst},
    {"OneByteLong", {"--long", "every:2"}, "-NO RESPONSE-", FaultRow::ImageFirst},
    {"NoiseBeforeTheReply", {"--noise", "every:2"}, "-NO RESPONSE-", FaultRow::ImageLast},
    {"Exception1", {"--exception", "1,every:2"}, "-EXCEPTION 1-", FaultRow::NoImage},
    {"Exception2", {"--exception", "2,every:2"}, "-EXCEPTION 2-", FaultRow::NoImage},
    {"Exception3", {"--exception", "3,every:2"}, "-EXCEPTION 3-", FaultRow::NoImage},
    {"Exception4", {"--exception", "4,every:2"}, "-EXCEPTION 4-", FaultRow::NoImage},
};

constexpr std::size_t kPollReplyLength = 161;

Registers imageIn(const Bytes& sent, bool atEnd)
{
    if (sent.size() < kPollReplyLength - 1)
        return Registers(sent);
    if (atEnd)
        return Registers(Bytes(sent.end() - kPollReplyLength, sent.end()));
    return Registers(sent);
}

class FaultMatrix : public ::testing::TestWithParam<FaultRow> {};

TEST_P(FaultMatrix, TheFaultShowsItsMessageChangesNoValueAndTheNextGoodReplyClearsIt)
{
    const FaultRow& row = GetParam();
    Workspace ws;
    ws.writeSettingsForCom1();
    Simulator sim(ws.linkPath(), ws.path("sim.log"), QStringList{"--seed", "13"} + row.options);
    ASSERT_TRUE(sim.started()) << sim.diagnostics().toStdString();
    RunningProgram p;

    ASSERT_TRUE(p.waitForPolls(1, kPollTimeoutMs));
    ASSERT_EQ(p.validReplies(), 1) << p.message().toStdString();
    const Registers good(sim.log().replies().at(0).bytes);
    ASSERT_EQ(shownOnMain(p), expectedFrom(good));

    ASSERT_TRUE(p.waitForPolls(2, kPollTimeoutMs));
    EXPECT_EQ(p.message(), row.message);
    EXPECT_TRUE(p.lamp());
    EXPECT_EQ(static_cast<std::size_t>(p.polls()), sim.log().requests().size());
    EXPECT_EQ(p.validReplies(), 1);
    EXPECT_EQ(p.text(p.main(), "NUMERIC"), "50.0");
    EXPECT_EQ(shownOnMain(p), expectedFrom(good));

    if (row.image != FaultRow::NoImage) {
        // A late reply is logged when it goes out, after the program has stopped waiting.
        ASSERT_TRUE(runEventsUntil([&] { return sim.log().replies().size() >= 2; }, 3000));
        const Registers bad = imageIn(sim.log().replies().at(1).bytes, row.image == FaultRow::ImageLast);
        // The tank moves between polls: had the program taken the bad reply, it would show.
        ASSERT_NE(expectedFrom(bad), expectedFrom(good));
        EXPECT_EQ(shownOnMain(p), expectedFrom(good));
    } else if (QString(row.message).startsWith("-EXCEPTION")) {
        const auto code = static_cast<std::uint8_t>(row.options[1].section(',', 0, 0).toInt());
        EXPECT_EQ(hexOf(sim.log().replies().at(1).bytes), hexOf(withCrc({0x01, 0x83, code})));
    } else {
        EXPECT_EQ(sim.log().replies().size(), 1u);
    }

    ASSERT_TRUE(p.waitForPolls(3, kPollTimeoutMs));
    EXPECT_EQ(p.message(), "");
    EXPECT_FALSE(p.lamp());
    EXPECT_EQ(static_cast<std::size_t>(p.polls()), sim.log().requests().size());
    EXPECT_EQ(p.validReplies(), 2);
    EXPECT_EQ(p.text(p.main(), "NUMERIC"), "66.7");
    EXPECT_EQ(shownOnMain(p), expectedFrom(Registers(sim.log().replies().back().bytes)));

    // The traffic the program recorded agrees with the simulator's log byte for byte: three
    // requests as the simulator took them, the good replies as it sent them, and for the
    // faulty one exactly what waited on the line, with the message the program showed.
    const TrafficRecorder& traffic = p.app().traffic;
    const std::vector<LogEntry> requests = sim.log().requests(), replies = sim.log().replies();
    ASSERT_EQ(traffic.size(), 6u);
    ASSERT_EQ(requests.size(), 3u);
    for (std::uint64_t k = 0; k < 3; ++k) {
        const TrafficFrame& request = traffic.at(2 * k);
        const TrafficFrame& reply = traffic.at(2 * k + 1);
        EXPECT_TRUE(request.sent && !reply.sent) << k;
        EXPECT_EQ(hexOf(request.bytes), hexOf(requests[k].bytes)) << k;
        EXPECT_EQ(reply.failedExchange, k == 1) << k;
    }
    EXPECT_EQ(hexOf(traffic.at(1).bytes), hexOf(replies.front().bytes));
    EXPECT_EQ(hexOf(traffic.at(5).bytes), hexOf(replies.back().bytes));
    EXPECT_EQ(traffic.at(1).outcome, "valid");
    EXPECT_EQ(traffic.at(5).outcome, "valid");
    const TrafficFrame& faulty = traffic.at(3);
    EXPECT_EQ(hexOf(faulty.bytes), row.waitsInTime ? hexOf(replies.at(1).bytes) : std::string());
    EXPECT_TRUE(QString::fromStdString(faulty.outcome).startsWith(row.message)) << faulty.outcome;
    EXPECT_GT(faulty.replyMs, 900.0);
}

INSTANTIATE_TEST_SUITE_P(Line, FaultMatrix, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<FaultRow>& info) { return std::string(info.param.name); });

bool linkPresent(const std::string& link)
{
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(link, ec));
}

TEST(AdapterUnplugged, TheProgramKeepsTryingWithoutSpinningAndRecoversByItselfWhenTheAdapterReturns)
{
    Workspace ws;
    ws.writeSettingsForCom1();
    // The adapter goes as soon as the second reply is out (a reply not yet read goes with
    // it) and comes back 13.5 s later: two ticks fall in between.
    Simulator sim(ws.linkPath(), ws.path("sim.log"),
                  {"--seed", "17", "--hangup-after", "2", "--return-after-ms", "13500"});
    ASSERT_TRUE(sim.started()) << sim.diagnostics().toStdString();
    RunningProgram p;

    ASSERT_TRUE(p.waitForPolls(1, kPollTimeoutMs));
    ASSERT_EQ(p.validReplies(), 1);
    // The adapter goes during the second exchange.
    ASSERT_TRUE(p.waitForPolls(2, kPollTimeoutMs));
    ASSERT_TRUE(runEventsUntil([&] { return !linkPresent(ws.linkPath()); }, 3000));
    const int validAtHangup = p.validReplies();
    const ShownMeasurements shownAtHangup = shownOnMain(p);
    ASSERT_EQ(shownAtHangup, expectedFrom(Registers(sim.log().replies().at(validAtHangup - 1).bytes)));

    const int pollsAtHangup = p.polls();
    std::set<QString> messages;
    bool lampSeen = false;
    const double cpu0 = processCpuSeconds(), wall0 = monotonicSeconds();
    ASSERT_TRUE(runEventsUntil(
        [&] {
            if (!p.message().isEmpty())
                messages.insert(p.message());
            lampSeen = lampSeen || p.lamp();
            return linkPresent(ws.linkPath());
        },
        20000));
    const double cpu = processCpuSeconds() - cpu0, wall = monotonicSeconds() - wall0;
    const int pollsWhileGone = p.polls() - pollsAtHangup;
    std::printf("adapter gone %.1f s: CPU %.3f s = %.2f %% of one core; %d requests counted meanwhile\n", wall, cpu,
                100.0 * cpu / wall, pollsWhileGone);
    ::testing::Test::RecordProperty("cpu_percent_while_gone",
                                    QString::number(100.0 * cpu / wall, 'f', 2).toStdString());

    EXPECT_LT(cpu / wall, 0.20);
    // Still trying at the usual pace: a tick every 6 s or so, not a burst and not a stop.
    EXPECT_GE(pollsWhileGone, 1);
    EXPECT_LE(pollsWhileGone, 3);
    // The exchange the adapter went in says the device went away (or, gone between two
    // polls, finds no reply); the ticks after it name the device that cannot be opened and
    // why, rather than blame the transmitter.
    EXPECT_TRUE(lampSeen);
    const QString cannotOpen = QString::fromStdString(platform::Rs232ErrorText(platform::RS_ERR_CANNOT_OPEN) + ": " +
                                                      ws.linkPath() + " (No such file or directory)");
    EXPECT_TRUE(messages.count(cannotOpen))
        << (messages.empty() ? std::string("no message") : messages.begin()->toStdString());
    messages.erase("-NO RESPONSE-");
    const QString gone =
        QString::fromStdString(platform::Rs232ErrorText(platform::RS_ERR_DEVICE_GONE) + ": " + ws.linkPath() + " (");
    std::erase_if(messages, [&](const QString& m) { return m.startsWith(gone); });
    EXPECT_EQ(messages, std::set<QString>{cannotOpen});
    EXPECT_EQ(shownOnMain(p), shownAtHangup);
    EXPECT_EQ(p.validReplies(), validAtHangup);

    ASSERT_TRUE(runEventsUntil([&] { return p.validReplies() == validAtHangup + 1; }, 15000))
        << p.message().toStdString();
    EXPECT_EQ(p.message(), "");
    EXPECT_FALSE(p.lamp());
    EXPECT_EQ(shownOnMain(p), expectedFrom(Registers(sim.log().replies().back().bytes)));
    // Requests made while nothing was there count too, and nothing else is missing.
    EXPECT_EQ(static_cast<std::size_t>(p.polls()), sim.log().requests().size() + pollsWhileGone);
}

TEST(StaleReplies, AReplyArrivingAfterItsWindowIsNeverTakenAsTheAnswerToTheNextRequest)
{
    Workspace ws;
    ws.writeSettingsForCom1();
    // Request 1 answered, 2 answered late, 3 lost (only the late reply 2 is then on the
    // line), 4 answered late, 5 answered.
    Simulator sim(ws.linkPath(), ws.path("sim.log"),
                  {"--seed", "19", "--delay-ms", "1500,every:2", "--drop", "every:3"});
    ASSERT_TRUE(sim.started()) << sim.diagnostics().toStdString();
    RunningProgram p;

    ASSERT_TRUE(p.waitForPolls(1, kPollTimeoutMs));
    ASSERT_EQ(p.validReplies(), 1);
    const Registers first(sim.log().replies().at(0).bytes);
    ASSERT_EQ(shownOnMain(p), expectedFrom(first));

    ASSERT_TRUE(p.waitForPolls(2, kPollTimeoutMs));
    EXPECT_EQ(p.message(), "-NO RESPONSE-");
    ASSERT_TRUE(runEventsUntil([&] { return sim.log().replies().size() >= 2; }, 3000));
    const Registers late(sim.log().replies().at(1).bytes);
    ASSERT_NE(expectedFrom(late), expectedFrom(first));

    ASSERT_TRUE(p.waitForPolls(3, kPollTimeoutMs));
    EXPECT_EQ(p.message(), "-NO RESPONSE-");
    EXPECT_EQ(p.validReplies(), 1);
    EXPECT_EQ(shownOnMain(p), expectedFrom(first));
    EXPECT_EQ(sim.log().replies().size(), 2u);

    ASSERT_TRUE(p.waitForPolls(4, kPollTimeoutMs));
    EXPECT_EQ(p.message(), "-NO RESPONSE-");
    EXPECT_EQ(shownOnMain(p), expectedFrom(first));
    ASSERT_TRUE(runEventsUntil([&] { return sim.log().replies().size() >= 3; }, 3000));
    const Registers late4(sim.log().replies().at(2).bytes);

    ASSERT_TRUE(p.waitForPolls(5, kPollTimeoutMs));
    EXPECT_EQ(p.message(), "");
    EXPECT_EQ(p.validReplies(), 2);
    ASSERT_EQ(sim.log().replies().size(), 4u);
    const Registers fifth(sim.log().replies().at(3).bytes);
    ASSERT_NE(expectedFrom(fifth), expectedFrom(late4));
    EXPECT_EQ(shownOnMain(p), expectedFrom(fifth));
    EXPECT_EQ(static_cast<std::size_t>(p.polls()), sim.log().requests().size());
}

}  // namespace
}  // namespace vek::e2e
