// The trend's points: one per valid poll on the virtual clock, none for a failed one, a day
// of them at most; a log written by the data logger read back into the same numbers, at once
// or a slice at a time; and which points the chart draws for its pixel columns.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app_rig.h"
#include "cwd_guard.h"
#include "in_child.h"
#include "log_text.h"
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

TEST(TrendLog, ALogReadASliceAtATimeGivesTheSameRowsAndStopsAtABadOne)
{
    const std::string text = LogText(1000);
    LogReader reader(text);
    int reads = 0;
    double before = 0;
    while (!reader.Read(100)) {
        ++reads;
        EXPECT_EQ(reader.rowsRead(), 100u * static_cast<std::size_t>(reads));
        EXPECT_GT(reader.fractionRead(), before);
        EXPECT_LT(reader.fractionRead(), 1.0);
        before = reader.fractionRead();
        ASSERT_LT(reads, 20);
    }
    EXPECT_EQ(reads, 9) << "1000 rows in slices of 100: done on the tenth";
    const LogReadResult whole = ReadLogText(text);
    const LogReadResult& sliced = reader.result();
    ASSERT_TRUE(sliced.ok && whole.ok);
    ASSERT_EQ(sliced.points.size(), 1000u);
    ASSERT_EQ(whole.points.size(), 1000u);
    for (std::size_t i : {0u, 99u, 100u, 555u, 999u}) {
        EXPECT_DOUBLE_EQ(sliced.points[i].wallTime, LogRowTime(static_cast<int>(i)));
        EXPECT_EQ(sliced.points[i].wallTime, whole.points[i].wallTime);
        EXPECT_EQ(sliced.points[i].values, whole.points[i].values) << "row " << i;
    }

    // A bad row deep in a file ends the reading in its slice, naming the file and the line.
    CwdGuard cwd;
    std::ofstream("bad.xls") << LogText(1000, 550);
    LogReader bad = LogReader::OfFile("bad.xls");
    reads = 0;
    while (!bad.Read(100))
        ++reads;
    EXPECT_EQ(reads, 5);
    EXPECT_FALSE(bad.result().ok);
    EXPECT_EQ(bad.result().error, "\"bad.xls\": Line 552 is not a row of a measurement log.");
    EXPECT_TRUE(bad.result().points.empty());
}

namespace {

TrendPoint levelAt(double t, double percent)
{
    TrendPoint p;
    p.wallTime = t;
    p.values[kLevelPercent] = percent;
    return p;
}

}  // namespace

TEST(TrendDraw, EachPixelColumnKeepsItsFirstLowestHighestAndLastPoint)
{
    // Ten columns of 10 s over [0, 100]: dense up to 50 s (0.1 s apart), sparse after (2.5 s
    // apart), so columns counted by points instead of by time would cut elsewhere.
    std::vector<TrendPoint> pts;
    for (int i = 0; i < 500; ++i)
        pts.push_back(levelAt(0.1 * i, 50 + (i * 37 % 11) * 0.5));
    for (int i = 0; i <= 20; ++i)
        pts.push_back(levelAt(50 + 2.5 * i, 50 + i % 3));
    pts[237].values[kLevelPercent] = 99;   // one spike inside the third column
    pts[238].values[kLevelPercent] = -40;  // and a dip right after it
    const std::vector<std::size_t> keep = TrendPointsToDraw(pts, kLevelPercent, 0, 100, 10);
    ASSERT_FALSE(keep.empty());
    EXPECT_LT(keep.size(), pts.size() / 10);
    EXPECT_TRUE(std::is_sorted(keep.begin(), keep.end()));
    EXPECT_TRUE(std::adjacent_find(keep.begin(), keep.end()) == keep.end()) << "a point given twice";
    EXPECT_EQ(keep.front(), 0u);
    EXPECT_EQ(keep.back(), pts.size() - 1) << "the point at the range's end is in the last column";
    EXPECT_NE(std::find(keep.begin(), keep.end(), 237u), keep.end()) << "the spike was dropped";
    EXPECT_NE(std::find(keep.begin(), keep.end(), 238u), keep.end()) << "the dip was dropped";
    for (int c = 0; c < 10; ++c) {
        std::size_t first = pts.size(), last = 0, kept = 0;
        double lo = INFINITY, hi = -INFINITY, keptLo = INFINITY, keptHi = -INFINITY;
        for (std::size_t i = 0; i < pts.size(); ++i) {
            if (std::min(9, static_cast<int>(pts[i].wallTime / 10)) != c)
                continue;
            first = std::min(first, i);
            last = i;
            lo = std::min(lo, pts[i].values[kLevelPercent]);
            hi = std::max(hi, pts[i].values[kLevelPercent]);
            if (std::find(keep.begin(), keep.end(), i) != keep.end()) {
                ++kept;
                keptLo = std::min(keptLo, pts[i].values[kLevelPercent]);
                keptHi = std::max(keptHi, pts[i].values[kLevelPercent]);
            }
        }
        EXPECT_NE(std::find(keep.begin(), keep.end(), first), keep.end()) << "column " << c << " lost its first";
        EXPECT_NE(std::find(keep.begin(), keep.end(), last), keep.end()) << "column " << c << " lost its last";
        EXPECT_EQ(keptLo, lo) << "column " << c;
        EXPECT_EQ(keptHi, hi) << "column " << c;
        EXPECT_LE(kept, 4u) << "column " << c;
    }
}

TEST(TrendDraw, ThePointsJustOutsideTheRangeAreKeptAndFewPointsAllComeBack)
{
    std::vector<TrendPoint> pts;
    for (int i = 0; i < 100; ++i)
        pts.push_back(levelAt(i, i % 2 ? 10 : 20));
    // 20 points (21 to 40) in view over 5 columns: their picks, and 20 and 41 beyond the edges.
    const auto few = TrendPointsToDraw(pts, kLevelPercent, 20.5, 40.5, 5);
    ASSERT_GE(few.size(), 4u);
    EXPECT_EQ(few.front(), 20u);
    EXPECT_EQ(few[1], 21u);
    EXPECT_EQ(few[few.size() - 2], 40u);
    EXPECT_EQ(few.back(), 41u);
    EXPECT_LT(few.size(), 22u);
    // As many columns as points in view: every point, in order.
    for (int columns : {20, 21, 900}) {
        const auto all = TrendPointsToDraw(pts, kLevelPercent, 20.5, 40.5, columns);
        ASSERT_EQ(all.size(), 22u) << columns << " columns";
        for (std::size_t k = 0; k < all.size(); ++k)
            EXPECT_EQ(all[k], 20 + k) << columns << " columns";
    }
    // Points on the range's edges are in it; nothing beyond the data's ends.
    const auto edges = TrendPointsToDraw(pts, kLevelPercent, 0, 99, 1000);
    EXPECT_EQ(edges.size(), 100u);
    EXPECT_TRUE(TrendPointsToDraw(std::vector<TrendPoint>{}, kLevelPercent, 0, 10, 10).empty());
}

TEST(TrendDraw, AValueThatIsNoNumberHidesNoExtreme)
{
    // One column of six points: the first not a number, then the spike and the low.
    std::vector<TrendPoint> pts;
    const double values[] = {NAN, 3, 99, 4, -5, 2};
    for (int i = 0; i < 6; ++i)
        pts.push_back(levelAt(i, values[i]));
    const auto keep = TrendPointsToDraw(pts, kLevelPercent, 0, 10, 1);
    EXPECT_EQ(keep, (std::vector<std::size_t>{0, 2, 4, 5}));
}
