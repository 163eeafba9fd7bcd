// mbpoll, an independent Modbus master from Debian, against the simulator: the proof that
// the program talks standard Modbus RTU and not just whatever our own master expects.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <cstdio>
#include <map>
#include <regex>

#include "sim_harness.h"

using namespace vek::simtest;

namespace {

constexpr const char* kImage = R"({
  "registers": {"1": 2345, "2": 2455, "25": 1, "68": 17, "78": 4321},
  "floats": {"3": 54.56, "5": -7.25, "7": 12.73, "9": 40000.5}
})";

struct MbpollRun {
    int status;
    std::string output;
};

// mbpoll in RTU mode at 9600 8N1 (its own defaults are 19200 even), one poll, short timeout.
// Values to write come after the device.
MbpollRun mbpoll(const std::string& device, const std::string& args, const std::string& writes = "")
{
    const std::string cmd = "mbpoll -m rtu -b 9600 -P none -1 -o 0.5 " + args + " " + device + " " + writes + " 2>&1";
    MbpollRun r{-1, {}};
    std::FILE* p = ::popen(cmd.c_str(), "r");
    if (!p)
        return r;
    char buf[4096];
    while (std::fgets(buf, sizeof buf, p))
        r.output += buf;
    const int st = ::pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

// "[12]: \t500" lines of a read, by reference number.
std::map<int, std::string> values(const std::string& out)
{
    std::map<int, std::string> v;
    static const std::regex line(R"(\[(\d+)\]:\s+(\S+))");
    for (std::sregex_iterator it(out.begin(), out.end(), line), end; it != end; ++it) {
        v[std::stoi((*it)[1])] = (*it)[2];
    }
    return v;
}

class SimWithMbpoll : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!commandExists("mbpoll")) {
            GTEST_SKIP() << "mbpoll is not installed (Debian package mbpoll)";
        }
        dir.write("image.json", kImage);
        ASSERT_TRUE(sim.start({"--image", dir.file("image.json"), "--static", "--no-pacing"})) << sim.error();
    }
    void TearDown() override
    {
        if (sim.running()) {
            EXPECT_EQ(sim.stop(SIGTERM), 0);
        }
    }
    TempDir dir;
    SimProcess sim;
};

}  // namespace

TEST_F(SimWithMbpoll, ReadsAllSeventyEightRegisters)
{
    const MbpollRun r = mbpoll(sim.device(), "-a 1 -r 1 -c 78");
    ASSERT_EQ(r.status, 0) << r.output;
    const auto v = values(r.output);
    ASSERT_EQ(v.size(), 78u) << r.output;
    EXPECT_EQ(v.at(1), "2345");
    EXPECT_EQ(v.at(2), "2455");
    EXPECT_EQ(v.at(68), "17");
    EXPECT_EQ(v.at(78), "4321");
    EXPECT_EQ(v.at(29), "71") << "'G', first character of the configuration index";
}

TEST_F(SimWithMbpoll, FloatsReadWithLowWordFirstAndNotTheOtherWay)
{
    MbpollRun r = mbpoll(sim.device(), "-a 1 -r 3 -c 4 -t 4:float");
    ASSERT_EQ(r.status, 0) << r.output;
    auto v = values(r.output);
    EXPECT_FLOAT_EQ(std::stof(v.at(3)), 54.56f);
    EXPECT_FLOAT_EQ(std::stof(v.at(5)), -7.25f);
    EXPECT_FLOAT_EQ(std::stof(v.at(7)), 12.73f);
    EXPECT_FLOAT_EQ(std::stof(v.at(9)), 40000.5f);
    r = mbpoll(sim.device(), "-a 1 -r 3 -c 1 -t 4:float -B");  // high word first
    ASSERT_EQ(r.status, 0) << r.output;
    v = values(r.output);
    EXPECT_NE(v.at(3), "54.56");
}

TEST_F(SimWithMbpoll, WritesAreReadBack)
{
    MbpollRun r = mbpoll(sim.device(), "-a 1 -r 12", "1234");  // one value: function 6
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("Written 1 references"), std::string::npos) << r.output;
    r = mbpoll(sim.device(), "-a 1 -r 70", "100 200");  // two values: function 16
    ASSERT_EQ(r.status, 0) << r.output;
    r = mbpoll(sim.device(), "-a 1 -r 12 -c 1");
    EXPECT_EQ(values(r.output).at(12), "1234");
    r = mbpoll(sim.device(), "-a 1 -r 70 -c 2");
    EXPECT_EQ(values(r.output).at(70), "100");
    EXPECT_EQ(values(r.output).at(71), "200");
}

TEST_F(SimWithMbpoll, RefusalsAndSilenceLookRightToAnotherMaster)
{
    MbpollRun r = mbpoll(sim.device(), "-a 1 -r 68", "99");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.output.find("Illegal data address"), std::string::npos) << r.output;
    r = mbpoll(sim.device(), "-a 1 -r 78 -c 2");
    EXPECT_NE(r.output.find("Illegal data address"), std::string::npos) << r.output;
    r = mbpoll(sim.device(), "-a 2 -r 1");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.output.find("timed out"), std::string::npos) << r.output;
}
