// The trend's points: one per valid poll on the virtual clock, none for a failed one, a day
// of them at most; and a log written by the data logger read back into the same numbers.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app_rig.h"
#include "cwd_guard.h"
#include "in_child.h"
#include "trend.h"

using namespace vek;
using namespace vek::test;

namespace {

struct Trend : ::testing::Test {
    CwdGuard cwd;
    AppRig rig;
    App& app = rig.app;

    void SetUp() override
    {
        rig.configurePort(1);
        rig.transmitter();
    }
    void measure(int distance, int level, float percent, float temp, float ma)
    {
        rig.regs[0] = static_cast<std::uint16_t>(distance);
        rig.regs[1] = static_cast<std::uint16_t>(level);
        rig.setFloat(3, percent);
        rig.setFloat(5, temp);
        rig.setFloat(7, ma);
    }
    static std::string slurp(const std::string& p)
    {
        std::ifstream in(p, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
};

}  // namespace

TEST_F(Trend, OnlyValidPollsAddPoints)
{
    measure(1800, 3200, 64.0f, 21.5f, 14.25f);
    rig.tick();
    rig.answering = false;
    rig.tick();
    rig.answering = true;
    measure(1700, 3300, 66.0f, 22.0f, 14.5f);
    rig.clock.advanceTo(rig.clock.now() + 4.0);
    rig.tick();
    const auto& pts = app.trend.points();
    ASSERT_EQ(pts.size(), 2u);
    EXPECT_DOUBLE_EQ(pts[0].wallTime, 1458000000.0 + 1.0) << "stamped when the reply was taken";
    EXPECT_DOUBLE_EQ(pts[1].wallTime - pts[0].wallTime, 6.0);
    EXPECT_DOUBLE_EQ(pts[0].values[kDistanceMm], 1800);
    EXPECT_DOUBLE_EQ(pts[0].values[kLevelMm], 3200);
    EXPECT_DOUBLE_EQ(pts[0].values[kLevelPercent], 64.0);
    EXPECT_DOUBLE_EQ(pts[0].values[kTemperature], 21.5);
    EXPECT_DOUBLE_EQ(pts[0].values[kOutputMa], 14.25);
    EXPECT_DOUBLE_EQ(pts[1].values[kDistanceMm], 1700);
    EXPECT_DOUBLE_EQ(pts[1].values[kOutputMa], 14.5);
}

TEST(TrendBound, KeepsADayBehindTheNewestPoint)
{
    TrendRecorder r;
    TrendPoint p;
    for (int i = 0; i <= 24 * 720 + 10; ++i) {  // one every 5 s, a day and 50 s
        p.wallTime = 5.0 * i;
        r.Add(p);
    }
    EXPECT_DOUBLE_EQ(r.points().back().wallTime - r.points().front().wallTime, kTrendSpanSeconds);
    EXPECT_DOUBLE_EQ(r.points().front().wallTime, 50.0);
    // Faster than one a second, the count bounds the memory.
    TrendRecorder fast;
    for (std::size_t i = 0; i < kTrendMaxPoints + 7; ++i) {
        p.wallTime = 0.001 * static_cast<double>(i);
        fast.Add(p);
    }
    EXPECT_EQ(fast.points().size(), kTrendMaxPoints);
}

TEST_F(Trend, ALogWrittenByTheLoggerReadsBackIntoTheSameNumbers)
{
    rig.panels.PostEvent(app.st.panelMain, PANEL_LOGGER, EVENT_COMMIT);
    const int logger = app.st.panelDataLog;
    ASSERT_EQ(rig.panels.UserSetValue(logger, DATA_LOG_FILE_NAME, ui::Value(std::string("run.xls"))), 0);
    rig.panels.PostEvent(logger, DATA_LOG_OPEN_CREATE_FILE, EVENT_COMMIT);
    rig.panels.PostEvent(logger, DATA_LOG_WRITE_FILE, EVENT_COMMIT);
    ASSERT_EQ(app.st.loggingActive, 1);
    const float percents[] = {38.3f, 41.75f, 99.9f};
    for (int i = 0; i < 3; ++i) {
        measure(1234 - 100 * i, 766 + 100 * i, percents[i], -3.5f + i, 4.0f + 3.3f * static_cast<float>(i));
        rig.tick();
    }
    if (app.st.logFileOpen)
        rig.files.CVI_CloseFile(app.st.logFileHandle);
    app.st.logFileOpen = false;
    const LogReadResult read = ReadLogText(slurp("run.xls"));
    ASSERT_TRUE(read.ok) << read.error;
    const auto& polled = app.trend.points();
    ASSERT_EQ(read.points.size(), 3u);
    ASSERT_EQ(polled.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_DOUBLE_EQ(read.points[i].wallTime, std::floor(polled[i].wallTime)) << "the log keeps whole seconds";
        EXPECT_DOUBLE_EQ(read.points[i].values[kDistanceMm], polled[i].values[kDistanceMm]);
        EXPECT_DOUBLE_EQ(read.points[i].values[kLevelMm], polled[i].values[kLevelMm]);
        // The log writes one decimal.
        for (int s : {kLevelPercent, kTemperature, kOutputMa})
            EXPECT_NEAR(read.points[i].values[static_cast<std::size_t>(s)],
                        polled[i].values[static_cast<std::size_t>(s)], 0.05 + 1e-6)
                << "series " << s << " row " << i;
    }
    EXPECT_DOUBLE_EQ(read.points[1].values[kTemperature], -2.5);
}

TEST(TrendLog, AFileThatIsNoLogIsRefused)
{
    const LogReadResult notLog = ReadLogText("Name,Value\nlevel,3\n");
    EXPECT_FALSE(notLog.ok);
    EXPECT_NE(notLog.error.find("not a measurement log"), std::string::npos);
    EXPECT_TRUE(notLog.points.empty());
    EXPECT_FALSE(ReadLogText("").ok);

    const std::string good = LogHeader() + "03-14-2016\t17:05:09\t 1234\t  766\t38.3\t21.5\t10.1\t   0\tON\tOFF\n";
    const LogReadResult one = ReadLogText(good);
    ASSERT_TRUE(one.ok) << one.error;
    ASSERT_EQ(one.points.size(), 1u);
    EXPECT_DOUBLE_EQ(one.points[0].wallTime, 1457975109.0);  // TZ=UTC
    EXPECT_DOUBLE_EQ(one.points[0].values[kLevelPercent], 38.3);

    const LogReadResult broken =
        ReadLogText(good + "03-14-2016\t17:05:14\t 1234\tlots\t38.3\t21.5\t10.1\t0\tON\tOFF\n");
    EXPECT_FALSE(broken.ok);
    EXPECT_EQ(broken.error, "Line 3 is not a row of a measurement log.");
    EXPECT_FALSE(ReadLogText(good + "13-40-2016\t17:05:14\t 1\t 1\t1.0\t1.0\t1.0\t0\tON\tOFF\n").ok);
    EXPECT_TRUE(ReadLogText(LogHeader()).ok) << "a log without rows yet is a log";
}

TEST(TrendLog, OpenLogReadsOnlyARegularFileOfUpTo64MiBAndNamesTheFileWhenItRefuses)
{
    CwdGuard cwd;
    const std::string row = "03-14-2016\t17:05:09\t 1234\t  766\t38.3\t21.5\t10.1\t   0\tON\tOFF\n";
    std::ofstream("run.xls") << LogHeader() << row;
    ASSERT_EQ(::mkfifo("pipe.xls", 0644), 0);
    // Over the limit by one byte; sparse, so it costs no disk.
    std::ofstream("huge.xls") << LogHeader();
    std::filesystem::resize_file("huge.xls", kLargestLog + 1);
    const struct {
        std::string path;
        const char* said;  // "" when it is read
    } cases[] = {
        {"run.xls", ""},
        {"pipe.xls", "\"pipe.xls\": it is a named pipe, not a log file."},
        {"/dev/zero", "\"/dev/zero\": it is a character device, not a log file."},
        {".", "\".\": it is a folder, not a log file."},
        {"huge.xls", "\"huge.xls\": it is 67108865 bytes: larger than the 64 MiB (67108864 bytes) Open Log reads."},
        {"missing.xls", "\"missing.xls\": it cannot be read (No such file or directory)."},
    };
    const int status = inChildWithin(10, [&] {
        for (const auto& c : cases) {
            const LogReadResult r = ReadLogFile(c.path);
            EXPECT_EQ(r.ok, *c.said == '\0') << c.path;
            EXPECT_EQ(r.error, c.said) << c.path;
            EXPECT_EQ(r.points.size(), r.ok ? 1u : 0u) << c.path;
        }
    });
    EXPECT_EQ(status, 0) << (status == 128 + SIGALRM ? "Open Log waited on a pipe or device" : "see above");
}
