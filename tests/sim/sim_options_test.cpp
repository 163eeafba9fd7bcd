// The command line, fault rules and warning schedules: what is accepted, and
// that everything else is refused with a message that names the problem.
#include <gtest/gtest.h>

#include <set>

#include "faults.h"
#include "options.h"
#include "transmitter.h"

using namespace vek::sim;

namespace {
OptionsResult parse(std::vector<std::string> args) { return parseOptions(args); }
}  // namespace

TEST(SimOptions, AcceptsEveryOptionInBothSpellings)
{
    const auto r = parse({"--link",
                          "/tmp/x",
                          "--baud=19200",
                          "--parity",
                          "even",
                          "--slave",
                          "12",
                          "--model",
                          "33",
                          "--seed",
                          "99",
                          "--warnings",
                          "blind@5-9",
                          "--no-pacing",
                          "--turnaround-ms",
                          "0",
                          "--drop",
                          "0.1",
                          "--delay-ms",
                          "1500,every:4",
                          "--corrupt-crc",
                          "every:2",
                          "--wrong-slave",
                          "1",
                          "--short",
                          "0",
                          "--long=0.5",
                          "--noise",
                          "every:7",
                          "--exception",
                          "6",
                          "--hangup-after",
                          "3",
                          "--return-after-ms",
                          "250",
                          "--log",
                          "/tmp/l",
                          "--image",
                          "i.json",
                          "--static",
                          "--check-baud",
                          "--refuse-write",
                          "70,13",
                          "--second-slave=200"});
    ASSERT_TRUE(r.ok) << r.error;
    const Options& o = r.options;
    EXPECT_EQ(o.link, "/tmp/x");
    EXPECT_EQ(o.baud, 19200u);
    EXPECT_EQ(o.parity, Parity::Even);
    EXPECT_EQ(o.slave, 12);
    EXPECT_EQ(o.model, 33);
    EXPECT_EQ(o.seed, 99u);
    EXPECT_FALSE(o.pacing);
    EXPECT_EQ(o.turnaroundMs, 0u);
    EXPECT_TRUE(o.staticImage);
    EXPECT_TRUE(o.checkBaud);
    EXPECT_EQ(o.secondSlave, 200);
    EXPECT_EQ(o.faults.delayMs, 1500u);
    EXPECT_EQ(o.faults.delay.describe(), "every 4. request");
    EXPECT_EQ(o.faults.corruptCrc.describe(), "every 2. request");
    EXPECT_FALSE(o.faults.shortReply.active());
    EXPECT_TRUE(o.faults.exception.active());
    EXPECT_EQ(o.faults.exceptionCode, 6);
    EXPECT_EQ(o.faults.hangupAfter, 3u);
    EXPECT_EQ(o.faults.returnAfterMs, 250u);
    EXPECT_EQ(o.faults.refuseWrites, (std::set<int>{13, 70}));
}

TEST(SimOptions, RefusesBadInputWithAMessageThatNamesIt)
{
    struct Case {
        std::vector<std::string> args;
        std::string says;
    };
    const std::vector<Case> cases = {
        {{"--baud", "38400"}, "38400"},
        {{"--baud"}, "needs a value"},
        {{"--parity", "mark"}, "mark"},
        {{"--slave", "0"}, "1 to 247"},
        {{"--slave", "248"}, "1 to 247"},
        {{"--slave", "1x"}, "1x"},
        {{"--second-slave", "0"}, "1 to 247"},
        {{"--second-slave"}, "needs a value"},
        {{"--model", "70000"}, "70000"},
        {{"--drop", "1.5"}, "probability"},
        {{"--drop", "every:0"}, "every:N"},
        {{"--drop", "sometimes"}, "sometimes"},
        {{"--drop"}, "needs a value"},
        {{"--delay-ms", "0"}, "delay"},
        {{"--delay-ms", "100,every:x"}, "every:N"},
        {{"--exception", "0"}, "exception code"},
        {{"--exception", "4,2"}, "probability"},
        {{"--hangup-after", "0"}, "at least 1"},
        {{"--refuse-write", "79"}, "1 to 78"},
        {{"--refuse-write", "12,,13"}, "''"},
        {{"--return-after-ms", "100"}, "needs --hangup-after"},
        {{"--device", "/dev/ttyUSB0", "--link", "x"}, "--link"},
        {{"--device", "/dev/ttyUSB0", "--check-baud"}, "pseudo-terminal"},
        {{"--warnings", "smoke"}, "smoke"},
        {{"--warnings", "temp@9-3"}, "after the start"},
        {{"--static=yes"}, "takes no value"},
        {{"--frobnicate"}, "--frobnicate"},
        {{"stray"}, "stray"},
    };
    for (const auto& c : cases) {
        const auto r = parse(c.args);
        EXPECT_FALSE(r.ok) << c.args[0];
        EXPECT_NE(r.error.find(c.says), std::string::npos) << c.args[0] << ": " << r.error;
    }
}

TEST(SimOptions, HelpListsEveryOption)
{
    const std::string u = usage("vek-transmitter-sim");
    for (const char* opt :
         {"--device",       "--link",          "--baud",         "--parity",       "--slave",           "--check-baud",
          "--no-pacing",    "--turnaround-ms", "--image",        "--model",        "--static",          "--seed",
          "--warnings",     "--drop",          "--delay-ms",     "--corrupt-crc",  "--wrong-slave",     "--short",
          "--long",         "--noise",         "--exception",    "--hangup-after", "--return-after-ms", "--log",
          "--refuse-write", "--help",          "--second-slave", "--version",
          "--tcp",          "--tcp-kind",      "--tcp-host",     "--close-after"}) {
        EXPECT_NE(u.find(std::string("  ") + opt + " "), std::string::npos) << opt;
    }
}

TEST(SimOptions, VersionIsAFlagAndNamesTheProjectVersion)
{
    const auto r = parse({"--version"});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_TRUE(r.options.version);
    EXPECT_FALSE(r.options.help);
    EXPECT_FALSE(parse({}).options.version);
    const auto refused = parse({"--version=1"});
    EXPECT_FALSE(refused.ok);
    EXPECT_NE(refused.error.find("takes no value"), std::string::npos) << refused.error;
    // The same line as the program's: "NAME MAJOR.MINOR.PATCH", this project's version.
    EXPECT_EQ(versionLine("vek-transmitter-sim"), "vek-transmitter-sim " VEK_PROJECT_VERSION "\n");
}

TEST(SimOptions, ImageThenOptionsSettleAddressLineAndModel)
{
    Options o;
    Startup s = resolveStartup(o, 1);
    ASSERT_TRUE(s.ok);
    EXPECT_EQ(s.engine.address, 1);
    EXPECT_EQ(s.engine.line, (LineSettings{9600, Parity::None}));

    o.slave = 17;
    o.baud = 19200;
    o.parity = Parity::Odd;
    o.model = 49;
    s = resolveStartup(o, 1);
    ASSERT_TRUE(s.ok);
    EXPECT_EQ(s.engine.address, 17);
    EXPECT_EQ(s.image.get(25), 17) << "the image reports the address the slave answers to";
    EXPECT_EQ(s.image.get(75), 1);
    EXPECT_EQ(s.image.get(74), 2);
    EXPECT_EQ(s.image.get(68), 49);
    EXPECT_EQ(s.engine.line, (LineSettings{19200, Parity::Odd}));

    // A second transmitter: the same image and line at its own address, without the faults.
    o.secondSlave = 30;
    o.faults.drop = *FaultRule::parse("1", nullptr);
    s = resolveStartup(o, 1);
    ASSERT_TRUE(s.ok) << s.error;
    ASSERT_TRUE(s.secondEngine);
    EXPECT_EQ(s.secondEngine->address, 30);
    EXPECT_EQ(s.secondEngine->line, s.engine.line);
    EXPECT_EQ(s.secondImage.get(25), 30);
    EXPECT_EQ(s.secondImage.get(68), 49);
    EXPECT_TRUE(s.engine.faults.drop.active());
    EXPECT_FALSE(s.secondEngine->faults.drop.active()) << "the faults are the first transmitter's";
    o.secondSlave = 17;
    s = resolveStartup(o, 1);
    EXPECT_FALSE(s.ok) << "two transmitters at one address";
    EXPECT_NE(s.error.find("--second-slave 17"), std::string::npos) << s.error;

    o = Options{};
    o.imagePath = "/nonexistent/image.json";
    s = resolveStartup(o, 1);
    EXPECT_FALSE(s.ok);
    EXPECT_NE(s.error.find("/nonexistent/image.json"), std::string::npos) << s.error;
}

TEST(SimFaultRule, ParsesProbabilitiesAndEveryNth)
{
    std::string err;
    EXPECT_EQ(FaultRule::parse("0", &err)->active(), false);
    EXPECT_EQ(FaultRule::parse("1", &err)->describe(), "probability 1");
    EXPECT_EQ(FaultRule::parse("0.25", &err)->describe(), "probability 0.25");
    EXPECT_EQ(FaultRule::parse("every:10", &err)->describe(), "every 10. request");
    for (const char* bad : {"", "-0.1", "1.01", "every:", "every:-2", "every:2x", "0.5x", "nan", "inf"}) {
        EXPECT_FALSE(FaultRule::parse(bad, &err)) << bad;
    }
    Rng rng(1);
    FaultRule always = *FaultRule::parse("1", &err);
    FaultRule never = *FaultRule::parse("0", &err);
    for (int i = 0; i < 100; ++i) {
        EXPECT_TRUE(always.fires(rng));
        EXPECT_FALSE(never.fires(rng));
    }
}
