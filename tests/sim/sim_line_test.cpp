// The real program on a real pseudo-terminal, with a master written here against the
// frame layouts (not against the simulator's code).
#include <gtest/gtest.h>
#include <signal.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cstring>
#include <filesystem>
#include <functional>
#include <sstream>
#include <thread>

#include "ref_crc.h"
#include "sim_harness.h"

using namespace vek::simtest;

namespace {

// A fixed image with a known value in every measured register.
constexpr const char* kImage = R"({
  "registers": {"1": 2345, "2": 2455, "11": 4800, "12": 300, "25": 1, "54": 0, "60": 1, "61": 0, "68": 17},
  "floats": {"3": 54.56, "5": -7.25, "7": 12.73, "9": 40000.5}
})";

float floatLowWordFirst(const Bytes& reply, int n)
{
    const std::uint32_t bits = static_cast<std::uint32_t>(replyRegister(reply, n)) |
                               (static_cast<std::uint32_t>(replyRegister(reply, n + 1)) << 16);
    return std::bit_cast<float>(bits);
}

float floatHighWordFirst(const Bytes& reply, int n)
{
    const std::uint32_t bits = (static_cast<std::uint32_t>(replyRegister(reply, n)) << 16) |
                               static_cast<std::uint32_t>(replyRegister(reply, n + 1));
    return std::bit_cast<float>(bits);
}

// The four checks a master makes on a poll reply.
::testing::AssertionResult validPoll(const Bytes& r, std::uint8_t slave = 1)
{
    if (r.size() != 161)
        return ::testing::AssertionFailure() << "length " << r.size();
    if (r[0] != slave)
        return ::testing::AssertionFailure() << "address " << int(r[0]);
    if (r[1] != 3)
        return ::testing::AssertionFailure() << "function " << int(r[1]);
    if (r[2] != 156)
        return ::testing::AssertionFailure() << "byte count " << int(r[2]);
    if (!frameCrcOk(r))
        return ::testing::AssertionFailure() << "CRC";
    return ::testing::AssertionSuccess();
}

class SimOnPty : public ::testing::Test {
protected:
    // Starts the simulator with a fixed image, unpaced unless the test asks otherwise.
    void launch(std::vector<std::string> args, unsigned baud = 9600)
    {
        dir.write("image.json", kImage);
        args.insert(args.begin(), {"--image", dir.file("image.json"), "--seed", "1"});
        ASSERT_TRUE(sim.start(args)) << sim.error();
        ASSERT_TRUE(master.open(sim.device(), baud)) << sim.device();
    }
    void TearDown() override
    {
        if (sim.running()) {
            master.close();
            EXPECT_EQ(sim.stop(SIGTERM), 0) << sim.stderrText();
        }
    }
    TempDir dir;
    SimProcess sim;
    LineMaster master;
};

}  // namespace

TEST_F(SimOnPty, PollReturns161BytesThatPassAllFourChecks)
{
    launch({"--static", "--no-pacing"});
    const Bytes r = master.transact(readRequest(1, 0, 78), 161);
    ASSERT_TRUE(validPoll(r));
    EXPECT_EQ(replyRegister(r, 1), 2345);
    EXPECT_EQ(replyRegister(r, 2), 2455);
    EXPECT_EQ(replyRegister(r, 60), 1);
    EXPECT_EQ(replyRegister(r, 68), 17);
    EXPECT_EQ(replyRegister(r, 29), 'G') << "factory configuration index under the image";
}

TEST_F(SimOnPty, FloatsDecodeLowWordFirst)
{
    launch({"--static", "--no-pacing"});
    const Bytes r = master.transact(readRequest(1, 0, 78), 161);
    ASSERT_TRUE(validPoll(r));
    EXPECT_EQ(floatLowWordFirst(r, 3), 54.56f);
    EXPECT_EQ(floatLowWordFirst(r, 5), -7.25f);
    EXPECT_EQ(floatLowWordFirst(r, 7), 12.73f);
    EXPECT_EQ(floatLowWordFirst(r, 9), 40000.5f);
    EXPECT_NE(floatHighWordFirst(r, 3), 54.56f);
    EXPECT_NE(floatHighWordFirst(r, 5), -7.25f);
}

TEST_F(SimOnPty, LivingTransmitterStaysConsistentOverTheLine)
{
    launch({"--no-pacing", "--model", "18"});
    const Bytes r = master.transact(readRequest(1, 0, 78), 161);
    ASSERT_TRUE(validPoll(r));
    const double d4 = replyRegister(r, 11), d20 = replyRegister(r, 12);
    const double level = replyRegister(r, 2), distance = replyRegister(r, 1);
    EXPECT_NEAR(level, d4 - distance, 1.0);
    EXPECT_NEAR(floatLowWordFirst(r, 3), 100.0 * level / (d4 - d20), 0.05);
    EXPECT_NEAR(floatLowWordFirst(r, 7), 4.0 + 16.0 * level / (d4 - d20), 0.01);
    EXPECT_EQ(replyRegister(r, 68), 18);
}

TEST_F(SimOnPty, WriteIsEchoedAndReadBack)
{
    launch({"--no-pacing"});
    const Bytes write = writeRequest(1, 12, 500);
    EXPECT_EQ(master.transact(write, 8), write);
    EXPECT_EQ(master.transact(readRequest(1, 11, 1), 7), withCrc({1, 3, 2, 0x01, 0xF4}));
    // Function 16 over two relay thresholds, then both read back in one go.
    const Bytes multi = withCrc({1, 0x10, 0, 69, 0, 2, 4, 0x0F, 0xA0, 0x01, 0x2C});
    EXPECT_EQ(master.transact(multi, 8), withCrc({1, 0x10, 0, 69, 0, 2}));
    EXPECT_EQ(master.transact(readRequest(1, 69, 2), 9), withCrc({1, 3, 4, 0x0F, 0xA0, 0x01, 0x2C}));
}

TEST_F(SimOnPty, ReadOnlyRegistersGiveException02)
{
    launch({"--no-pacing"});
    for (int reg : {1, 2, 5, 10, 19, 22, 37, 54, 55, 58, 60, 61, 68, 78}) {
        EXPECT_EQ(master.transact(writeRequest(1, reg, 1), 5), withCrc({1, 0x86, 0x02})) << "register " << reg;
    }
    EXPECT_EQ(master.transact(readRequest(1, 70, 9), 5), withCrc({1, 0x83, 0x02}));
    EXPECT_EQ(master.transact(withCrc({1, 0x04, 0, 0, 0, 1}), 5), withCrc({1, 0x84, 0x01}));
}

TEST_F(SimOnPty, BadCrcAndForeignAddressGetSilence)
{
    launch({"--no-pacing"});
    Bytes bad = readRequest(1, 0, 78);
    bad[7] ^= 0xFF;
    master.send(bad);
    EXPECT_TRUE(master.silentFor(250));
    master.send(readRequest(2, 0, 78));
    EXPECT_TRUE(master.silentFor(250));
    master.send(writeRequest(0x55, 12, 1));
    EXPECT_TRUE(master.silentFor(250));
    EXPECT_TRUE(validPoll(master.transact(readRequest(1, 0, 78), 161))) << "and it still answers its own";
}

TEST_F(SimOnPty, ASecondSlaveAnswersItsOwnAddressOnTheSameLineAndKeepsItsOwnRegisters)
{
    launch({"--second-slave", "200", "--corrupt-crc", "1"});
    // Each answers only its own address, with its address in register 25; the fault is the first one's.
    const Bytes second = master.transact(readRequest(200, 24, 1), 7);
    EXPECT_EQ(second, withCrc({200, 3, 2, 0, 200}));
    const Bytes first = master.transact(readRequest(1, 24, 1), 7);
    ASSERT_EQ(first.size(), 7u);
    EXPECT_FALSE(frameCrcOk(first));
    master.send(readRequest(2, 24, 1));
    EXPECT_TRUE(master.silentFor(250));
    // A write to one leaves the other as it was.
    EXPECT_EQ(master.transact(writeRequest(200, 12, 777), 8), writeRequest(200, 12, 777));
    EXPECT_EQ(master.transact(readRequest(200, 11, 1), 7), withCrc({200, 3, 2, 0x03, 0x09}));
    const Bytes untouched = master.transact(readRequest(1, 11, 1), 7);
    ASSERT_EQ(untouched.size(), 7u);
    EXPECT_EQ(replyRegister(untouched, 1), 300);
}

TEST_F(SimOnPty, BroadcastWriteIsAppliedAndNotAnswered)
{
    launch({"--no-pacing"});
    master.send(writeRequest(0, 16, 33));
    EXPECT_TRUE(master.silentFor(250));
    EXPECT_EQ(master.transact(readRequest(1, 15, 1), 7), withCrc({1, 3, 2, 0, 33}));
}

class SimFraming : public SimOnPty, public ::testing::WithParamInterface<unsigned> {};

TEST_P(SimFraming, AShortPauseJoinsALongSilenceSplits)
{
    const unsigned baud = GetParam();
    launch({"--no-pacing", "--baud", std::to_string(baud)}, baud);
    const double silenceUs = 3.5 * 10 * 1e6 / baud;
    const Bytes req = readRequest(1, 0, 78);
    const Bytes head(req.begin(), req.begin() + 4), tail(req.begin() + 4, req.end());

    // A pause well under 3.5 characters keeps one frame. Either side can be descheduled for
    // longer than a silence on a busy machine, and a pseudo-terminal carries no byte times, so
    // a single split try proves nothing; a simulator whose silence is too short answers none.
    int judged = 0, answered = 0;
    for (int attempt = 0; attempt < 10 && answered < 3; ++attempt) {
        const auto t0 = monotonicUs();
        master.send(head);
        const auto t1 = monotonicUs();
        master.send(tail);
        if (static_cast<double>(t1 - t0) > silenceUs / 3) {
            master.drain(100);
            continue;
        }
        ++judged;
        const Bytes r = master.receive(161, 300);
        if (!r.empty()) {
            EXPECT_TRUE(validPoll(r)) << baud;
            ++answered;
        }
        master.drain(50);
    }
    ASSERT_GT(judged, 0) << "never managed a short pause";
    EXPECT_GT(answered, 0) << baud << ": no request with a short pause inside was answered";

    // A pause far longer than a silence makes two frames, both garbage.
    master.send(head);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    master.send(tail);
    EXPECT_TRUE(master.silentFor(250)) << baud;
    EXPECT_TRUE(validPoll(master.transact(req, 161)));
}

INSTANTIATE_TEST_SUITE_P(Baud, SimFraming, ::testing::Values(9600u, 19200u), ::testing::PrintToStringParamName());

TEST_F(SimOnPty, RepliesArePacedAtTheLineRate)
{
    launch({});  // pacing on: 161 bytes at 9600 8N1 take about 168 ms
    const auto t0 = monotonicUs();
    const Bytes r = master.transact(readRequest(1, 0, 78), 161, 3000);
    const auto took = monotonicUs() - t0;
    ASSERT_TRUE(validPoll(r));
    // A reply cannot arrive faster than the line carries it; the upper bound only catches a stall.
    EXPECT_GE(took, 160'000);
    EXPECT_LT(took, 2'000'000);
}

TEST_F(SimOnPty, UidWriteMovesTheSlaveAfterItsEcho)
{
    launch({"--no-pacing"});
    const Bytes write = writeRequest(1, 25, 42);
    EXPECT_EQ(master.transact(write, 8), write) << "the echo comes from the old address";
    master.send(readRequest(1, 0, 78));
    EXPECT_TRUE(master.silentFor(250));
    const Bytes r = master.transact(readRequest(42, 0, 78), 161);
    ASSERT_TRUE(validPoll(r, 42));
    EXPECT_EQ(replyRegister(r, 25), 42);
}

TEST_F(SimOnPty, BaudWriteTakesEffectAfterItsEcho)
{
    launch({"--no-pacing", "--check-baud"});
    const Bytes write = writeRequest(1, 75, 1);
    EXPECT_EQ(master.transact(write, 8), write) << "the echo goes out at the old speed";
    master.send(readRequest(1, 0, 78));
    EXPECT_TRUE(master.silentFor(250)) << "still talking at 9600 to a slave now at 19200";
    ASSERT_TRUE(master.open(sim.device(), 19200));
    const Bytes r = master.transact(readRequest(1, 0, 78), 161);
    ASSERT_TRUE(validPoll(r));
    EXPECT_EQ(replyRegister(r, 75), 1);
}

// Each fault on every request, against the clean answer of the static image.
struct FaultCase {
    const char* name;
    std::vector<std::string> args;
    std::function<void(const Bytes& clean, const Bytes& got)> check;
    int waitMs = 600;  // for the first byte; a reply normally starts within a few ms
};

// A failure names the case and its options ("CorruptCrc: --corrupt-crc 1"), not the bytes of
// the struct.
void PrintTo(const FaultCase& c, std::ostream* os)
{
    *os << c.name << ":";
    for (const std::string& a : c.args)
        *os << " " << a;
}

class SimFaults : public SimOnPty, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(SimFaults, ProducesExactlyItsFault)
{
    std::vector<std::string> args{"--static", "--no-pacing"};
    args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
    launch(args);
    SimProcess cleanSim;
    ASSERT_TRUE(cleanSim.start({"--image", dir.file("image.json"), "--static", "--no-pacing"})) << cleanSim.error();
    LineMaster cleanMaster;
    ASSERT_TRUE(cleanMaster.open(cleanSim.device()));
    const Bytes clean = cleanMaster.transact(readRequest(1, 0, 78), 161);
    ASSERT_TRUE(validPoll(clean));
    cleanMaster.close();
    EXPECT_EQ(cleanSim.stop(SIGTERM), 0);

    master.send(readRequest(1, 0, 78));
    Bytes got = master.receive(1, GetParam().waitMs, 0);
    const Bytes rest = master.drain(100);
    got.insert(got.end(), rest.begin(), rest.end());
    GetParam().check(clean, got);
}

INSTANTIATE_TEST_SUITE_P(
    Each, SimFaults,
    ::testing::Values(
        FaultCase{"Drop", {"--drop", "1"}, [](const Bytes&, const Bytes& got) { EXPECT_TRUE(got.empty()); }},
        FaultCase{"CorruptCrc",
                  {"--corrupt-crc", "1"},
                  [](const Bytes& clean, const Bytes& got) {
                      ASSERT_EQ(got.size(), 161u);
                      EXPECT_TRUE(std::equal(clean.begin(), clean.end() - 2, got.begin()));
                      EXPECT_FALSE(frameCrcOk(got));
                  }},
        FaultCase{"WrongSlave",
                  {"--wrong-slave", "1"},
                  [](const Bytes& clean, const Bytes& got) {
                      ASSERT_EQ(got.size(), 161u);
                      EXPECT_NE(got[0], 1);
                      EXPECT_TRUE(std::equal(clean.begin() + 1, clean.end() - 2, got.begin() + 1));
                      EXPECT_TRUE(frameCrcOk(got));
                  }},
        FaultCase{"Short",
                  {"--short", "1"},
                  [](const Bytes& clean, const Bytes& got) { EXPECT_EQ(got, Bytes(clean.begin(), clean.end() - 1)); }},
        FaultCase{"Long",
                  {"--long", "1"},
                  [](const Bytes& clean, const Bytes& got) {
                      ASSERT_EQ(got.size(), 162u);
                      EXPECT_TRUE(std::equal(clean.begin(), clean.end(), got.begin()));
                  }},
        FaultCase{"Noise",
                  {"--noise", "1"},
                  [](const Bytes& clean, const Bytes& got) {
                      ASSERT_GT(got.size(), 161u);
                      ASSERT_LE(got.size(), 165u);
                      EXPECT_TRUE(std::equal(clean.begin(), clean.end(), got.end() - 161));
                  }},
        FaultCase{"Exception",
                  {"--exception", "4"},
                  [](const Bytes&, const Bytes& got) {
                      EXPECT_EQ(got, withCrc({1, 0x83, 4}));
                  }},
        FaultCase{"Delay",
                  {"--delay-ms", "1200"},
                  [](const Bytes& clean, const Bytes& got) { EXPECT_EQ(got, clean) << "late, but whole"; },
                  2500}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SimOnPty, EveryNthFaultHitsOnlyThoseRequests)
{
    launch({"--no-pacing", "--corrupt-crc", "every:2"});
    for (int i = 1; i <= 4; ++i) {
        const Bytes r = master.transact(readRequest(1, 0, 78), 161);
        ASSERT_EQ(r.size(), 161u);
        EXPECT_EQ(frameCrcOk(r), i % 2 == 1) << "request " << i;
    }
}

TEST_F(SimOnPty, HangupClosesTheLineAndItReturnsAtTheSameLink)
{
    const std::string link = dir.file("ttyTX");
    launch({"--no-pacing", "--link", link, "--hangup-after", "2", "--return-after-ms", "300"});
    ASSERT_EQ(std::filesystem::read_symlink(link).string(), sim.device());
    ASSERT_TRUE(master.open(link));
    EXPECT_TRUE(validPoll(master.transact(readRequest(1, 0, 78), 161)));
    EXPECT_TRUE(validPoll(master.transact(readRequest(1, 0, 78), 161))) << "the N-th request is still answered";
    // Then the adapter is gone: the master's end hangs up and the link disappears.
    master.send(readRequest(1, 0, 78));
    EXPECT_TRUE(master.receive(1, 200, 0).empty());
    const auto gone = monotonicUs();
    while (std::filesystem::is_symlink(link) && monotonicUs() - gone < 2'000'000)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_FALSE(std::filesystem::is_symlink(link));
    master.close();

    const auto back = sim.nextLine(3000);
    ASSERT_TRUE(back) << sim.stderrText();
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), *back);
    ASSERT_TRUE(master.open(link));
    EXPECT_TRUE(validPoll(master.transact(readRequest(1, 0, 78), 161)));
}

TEST_F(SimOnPty, LogHasOneJsonObjectPerFrameAndWrite)
{
    const std::string log = dir.file("sim.log");
    launch({"--no-pacing", "--log", log});
    master.transact(writeRequest(1, 12, 500), 8);
    master.send(readRequest(9, 0, 1));
    EXPECT_TRUE(master.silentFor(100));
    master.close();
    EXPECT_EQ(sim.stop(SIGTERM), 0);
    std::istringstream lines(readFile(log));
    std::vector<std::string> all;
    for (std::string l; std::getline(lines, l);)
        all.push_back(l);
    ASSERT_EQ(all.size(), 6u) << readFile(log);
    EXPECT_NE(all[0].find("\"event\":\"start\""), std::string::npos) << all[0];
    EXPECT_NE(all[1].find("\"dir\":\"rx\",\"len\":8,\"hex\":\"01 06 00 0B 01 F4 F8 1F\""), std::string::npos) << all[1];
    EXPECT_NE(all[2].find("\"event\":\"write\",\"register\":12,\"old\":300,\"value\":500"), std::string::npos)
        << all[2];
    EXPECT_NE(all[3].find("\"dir\":\"tx\",\"len\":8,\"hex\":\"01 06 00 0B 01 F4 F8 1F\""), std::string::npos) << all[3];
    EXPECT_NE(all[4].find("\"note\":\"ignored: for another slave\""), std::string::npos) << all[4];
    EXPECT_NE(all[5].find("\"event\":\"stop\""), std::string::npos) << all[5];
    // Monotonic, non-decreasing stamps, every line an object.
    double last = 0;
    for (const auto& l : all) {
        ASSERT_EQ(l.front(), '{');
        ASSERT_EQ(l.back(), '}');
        const double t = std::stod(l.substr(5));
        EXPECT_GE(t, last);
        last = t;
    }
}

TEST(SimProgram, SignalsStopItWithStatusZeroAndRemoveTheLink)
{
    for (int sig : {SIGINT, SIGTERM}) {
        TempDir dir;
        const std::string link = dir.file("ttyTX");
        SimProcess sim;
        ASSERT_TRUE(sim.start({"--link", link})) << sim.error();
        EXPECT_TRUE(std::filesystem::is_symlink(link));
        EXPECT_EQ(sim.stop(sig), 0) << strsignal(sig) << sim.stderrText();
        EXPECT_FALSE(std::filesystem::is_symlink(link)) << strsignal(sig);
    }
}

TEST(SimProgram, ServesAGivenDeviceAndWaitsCalmlyWhenItVanishes)
{
    // A pseudo-terminal stands in for a USB adapter: the simulator opens its far end as a
    // serial device, the test talks through the near end.
    const int adapter = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(adapter, 0);
    ASSERT_EQ(grantpt(adapter), 0);
    ASSERT_EQ(unlockpt(adapter), 0);
    const std::string path = ptsname(adapter);
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--device", path, "--no-pacing", "--baud", "19200", "--parity", "even"})) << sim.error();
    EXPECT_EQ(sim.device(), path);
    LineMaster master;
    master.adopt(adapter);
    EXPECT_TRUE(validPoll(master.transact(readRequest(1, 0, 78), 161)));
    const Bytes write = writeRequest(1, 74, 0);  // parity none from now on
    EXPECT_EQ(master.transact(write, 8), write);
    EXPECT_TRUE(validPoll(master.transact(readRequest(1, 0, 78), 161))) << "reconfigured and still serving";

    // Unplugged: no tight loop on a dead descriptor, and no grabbing of whatever pseudo-terminal
    // takes the same number next.
    master.close();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const long before = cpuTicks(sim.pid());
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const long used = cpuTicks(sim.pid()) - before;
    EXPECT_LT(used, sysconf(_SC_CLK_TCK) / 5) << "CPU ticks while waiting for the device: " << used;
    EXPECT_NE(sim.stderrText().find("went away; a pseudo-terminal does not come back"), std::string::npos)
        << sim.stderrText();
    EXPECT_EQ(sim.stop(SIGTERM), 0);
}

TEST(SimProgram, RefusesToReplaceAFileWithItsLink)
{
    TempDir dir;
    dir.write("precious", "keep me");
    SimProcess sim;
    EXPECT_EQ(sim.runToEnd({"--link", dir.file("precious")}), 1);
    EXPECT_EQ(readFile(dir.file("precious")), "keep me");
    EXPECT_NE(sim.stderrText().find("not a symbolic link"), std::string::npos) << sim.stderrText();
}

TEST(SimProgram, BadOptionsAndBadImagesExitWithTwoAndSayWhy)
{
    TempDir dir;
    dir.write("broken.json", "{\"registers\": {\"12\": 300,,}}");
    dir.write("range.json", "{\"registers\": {\"80\": 1}}");
    struct Case {
        std::vector<std::string> args;
        const char* says;
    };
    for (const Case& c :
         {Case{{"--baud", "4800"}, "4800"}, Case{{"--nonsense"}, "--nonsense"}, Case{{"--slave"}, "needs a value"},
          Case{{"--image", dir.file("missing.json")}, "missing.json"},
          Case{{"--image", dir.file("broken.json")}, "line 1, column 26"},
          Case{{"--image", dir.file("range.json")}, "\"80\""}}) {
        SimProcess sim;
        EXPECT_EQ(sim.runToEnd(c.args), 2) << c.args[0];
        EXPECT_NE(sim.stderrText().find(c.says), std::string::npos) << sim.stderrText();
        EXPECT_EQ(sim.stdoutText(), "") << "no device is offered";
    }
    SimProcess help;
    EXPECT_EQ(help.runToEnd({"--help"}), 0);
    EXPECT_NE(help.stdoutText().find("--hangup-after"), std::string::npos);
    EXPECT_NE(help.stdoutText().find("--version"), std::string::npos);
}

TEST(SimProgram, VersionPrintsTheProjectVersionAndExits)
{
    SimProcess sim;
    EXPECT_EQ(sim.runToEnd({"--version"}), 0);
    EXPECT_EQ(sim.stdoutText(), "vek-transmitter-sim " VEK_PROJECT_VERSION "\n") << "no device is offered";
    EXPECT_EQ(sim.stderrText(), "");
}
