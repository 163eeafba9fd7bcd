// The data logger through the whole program: the Data Logger window's buttons, the rows the
// polling cycle writes into a real file, the interval, the size limit, and what happens
// when the file system refuses. Wall time comes from the virtual clock (the tests run with
// TZ=UTC), so every row's date and time are known.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <grp.h>
#include <unistd.h>

#include <cfloat>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "app_rig.h"
#include "in_child.h"

using namespace vek;
using namespace vek::test;
using ui::Value;
namespace fs = std::filesystem;

namespace {

// 14 March 2016 17:05:09 UTC is one poll wait (1 s) after this.
constexpr std::time_t kWallAtZero = 1457975109 - 1;

// Written out here rather than taken from the program, so a change to either shows.
const std::string kHeader =
    "Date\tTime\tDist[mm]\tLevel[mm]\tLevel[%]\tTemp[\xB0"
    "C]\tOutput[mA]\tMeasure status\tRL1 Status\tRL2 Status\n";

std::string exampleRow(const char* time)
{
    return std::string("03-14-2016\t") + time + "\t 1234\t  766\t38.3\t21.5\t10.1\t   0\tON\tOFF\n";
}

std::string slurp(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void spit(const fs::path& p, const std::string& bytes)
{
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::size_t count(const std::string& hay, const std::string& needle)
{
    std::size_t n = 0;
    for (auto at = hay.find(needle); at != std::string::npos; at = hay.find(needle, at + 1))
        ++n;
    return n;
}

// How many of this process's descriptors are open on `p`.
int descriptorsOn(const fs::path& p)
{
    std::error_code ec;
    const fs::path target = fs::weakly_canonical(p, ec);
    int n = 0;
    for (const auto& e : fs::directory_iterator("/proc/self/fd", ec)) {
        std::error_code ec2;
        if (fs::read_symlink(e.path(), ec2) == target)
            ++n;
    }
    return n;
}

constexpr int kChildSkipped = 77;

struct DataLog : ::testing::Test {
    AppRig r{kWallAtZero};
    App& app = r.app;
    ui::PanelModel& panels = r.panels;
    fs::path dir;

    void SetUp() override
    {
        static int serial = 0;
        dir =
            fs::temp_directory_path() / ("vek-datalog-" + std::to_string(::getpid()) + "-" + std::to_string(++serial));
        fs::remove_all(dir);
        fs::create_directories(dir);
        r.configurePort(1);
        r.transmitter();
        // The example measurements: 1234 mm, 766 mm, 38.3 %, 21.5 degrees, 10.1 mA,
        // status 0, relay 1 on, relay 2 off.
        r.regs[1 - 1] = 1234;
        r.regs[2 - 1] = 766;
        r.setFloat(3, 38.3f);
        r.setFloat(5, 21.5f);
        r.setFloat(7, 10.1f);
        r.regs[54 - 1] = 0;
        r.regs[60 - 1] = 1;
        r.regs[61 - 1] = 0;
    }
    void TearDown() override
    {
        if (app.st.logFileOpen)
            r.files.CVI_CloseFile(app.st.logFileHandle);
        std::error_code ec;
        for (const auto& e : fs::recursive_directory_iterator(dir, ec))
            fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
        fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(dir, ec);
    }

    int logger() const { return app.st.panelDataLog; }
    void openLogger() { panels.PostEvent(app.st.panelMain, PANEL_LOGGER, EVENT_COMMIT); }
    void closeLogger() { panels.PostEvent(logger(), DATA_LOG_EXIT, EVENT_COMMIT); }
    void openCreate(const fs::path& p)
    {
        ASSERT_EQ(panels.UserSetValue(logger(), DATA_LOG_FILE_NAME, Value(p.string())), 0);
        panels.PostEvent(logger(), DATA_LOG_OPEN_CREATE_FILE, EVENT_COMMIT);
    }
    void startWriting() { panels.PostEvent(logger(), DATA_LOG_WRITE_FILE, EVENT_COMMIT); }
    void stopWriting() { panels.PostEvent(logger(), DATA_LOG_STOP_WRITE_FILE, EVENT_COMMIT); }
    void chooseInterval(const std::string& item)
    {
        for (const ui::RingItem& it : panels.control(logger(), DATA_LOG_WRITE_TIMER)->items)
            if (it.label == item) {
                ASSERT_EQ(panels.UserSetValue(logger(), DATA_LOG_WRITE_TIMER, Value(it.value)), 0);
                return;
            }
        FAIL() << "no interval item " << item;
    }
    // Opens the window, opens or creates `p` and starts writing, as the user does.
    void startLog(const fs::path& p)
    {
        openLogger();
        openCreate(p);
        startWriting();
        ASSERT_EQ(app.st.loggingActive, 1);
    }
    // One poll cycle with a valid (true) or missing (false) reply.
    void tick(bool valid = true)
    {
        r.answering = valid;
        r.tick();
        r.answering = true;
    }
    std::string str(int ctrl) const
    {
        std::string v;
        panels.GetCtrlVal(logger(), ctrl, v);
        return v;
    }
    long long num(int ctrl) const
    {
        long long v = -1;
        panels.GetCtrlVal(logger(), ctrl, v);
        return v;
    }
    int msgColor() const
    {
        Value v;
        panels.GetCtrlAttribute(logger(), DATA_LOG_DATALOG_MSG, ATTR_TEXT_COLOR, v);
        return std::holds_alternative<long long>(v) ? static_cast<int>(std::get<long long>(v)) : -1;
    }
    std::size_t ioErrors() const
    {
        std::size_t n = 0;
        for (const auto& p : r.popups.popups)
            n += p.title == "File I/O Error";
        return n;
    }
};

}  // namespace

// --- the format ---

TEST(LogFormat, TheExampleRowIsFiftyNineBytesAndTheHeaderNinetyFiveWithOneDegreeByte)
{
    Measurements m;
    m.distanceMm = 1234;
    m.levelMm = 766;
    m.levelPercent = 38.3f;
    m.temperature = 21.5f;
    m.outputMa = 10.1f;
    m.measureStatus = 0;
    m.relay1Text = "ON";
    m.relay2Text = "OFF";
    const std::string row = FormatLogRow("03-14-2016", "17:05:09", m);
    EXPECT_EQ(row, exampleRow("17:05:09"));
    EXPECT_EQ(row.size(), 59u);

    EXPECT_EQ(LogHeader(), kHeader);
    EXPECT_EQ(LogHeader().size(), 95u);
    EXPECT_EQ(count(LogHeader(), "\xB0"), 1u);
    EXPECT_EQ(LogHeader().find('\r'), std::string::npos);
}

TEST(LogFormat, NegativeAndWideValuesKeepTheirColumns)
{
    Measurements m;
    m.distanceMm = 65535;
    m.levelMm = 5;
    m.levelPercent = -0.04f;
    m.temperature = -12.34f;
    m.outputMa = 3.86f;
    m.measureStatus = 12345;
    m.relay1Text = "OFF";
    m.relay2Text = "ON";
    EXPECT_EQ(FormatLogRow("12-31-2099", "23:59:59", m),
              "12-31-2099\t23:59:59\t65535\t    5\t-0.0\t-12.3\t3.9\t12345\tOFF\tON\n");
}

// --- rows into a real file ---

TEST_F(DataLog, ANewFileGetsTheHeaderAndTheFirstRowInOneCall)
{
    const fs::path log = dir / "tank.xls";
    startLog(log);
    EXPECT_EQ(slurp(log), "") << "nothing before the first due row";
    tick();
    EXPECT_EQ(slurp(log), kHeader + exampleRow("17:05:09"));
    EXPECT_EQ(fs::file_size(log), 95u + 59u);

    // The same from a direct call: one call, both lines.
    const fs::path other = dir / "direct.xls";
    openCreate(other);
    startWriting();
    Write_Data_Log(app);
    EXPECT_EQ(slurp(other), kHeader + exampleRow("17:05:09"));
}

TEST_F(DataLog, AnExistingFileGetsRowsAppendedAndNoSecondHeader)
{
    const fs::path log = dir / "tank.xls";
    const std::string earlier = kHeader + exampleRow("09:00:00");
    spit(log, earlier);
    startLog(log);
    EXPECT_EQ(num(DATA_LOG_FILE_SIZE), static_cast<long long>(earlier.size())) << "Open/Create shows the size found";
    tick();
    tick();
    EXPECT_EQ(slurp(log), earlier + exampleRow("17:05:09") + exampleRow("17:05:10"));
}

TEST_F(DataLog, ResumingAfterStopAppendsWithoutAHeader)
{
    const fs::path log = dir / "tank.xls";
    startLog(log);
    tick();
    stopWriting();
    EXPECT_EQ(app.st.loggingActive, 0);
    EXPECT_EQ(descriptorsOn(log), 0) << "Stop writing closes the file";
    tick();
    EXPECT_EQ(slurp(log), kHeader + exampleRow("17:05:09")) << "no row while stopped";

    openCreate(log);
    startWriting();
    tick();
    EXPECT_EQ(slurp(log), kHeader + exampleRow("17:05:09") + exampleRow("17:05:11"));
    EXPECT_EQ(count(slurp(log), "Date\tTime"), 1u);
}

TEST_F(DataLog, StartWritingWithNoFileOpenIsRefusedAndLoggingStaysOff)
{
    openLogger();
    startWriting();
    ASSERT_EQ(r.popups.popups.size(), 1u);
    EXPECT_FALSE(r.popups.popups[0].text.empty());
    EXPECT_EQ(app.st.loggingActive, 0);
    tick();
    EXPECT_EQ(str(DATA_LOG_DATALOG_MSG), "No writing file");

    // After Stop writing the file is closed, so a second Start needs a new Open/Create.
    const fs::path log = dir / "tank.xls";
    openCreate(log);
    startWriting();
    stopWriting();
    startWriting();
    EXPECT_EQ(r.popups.popups.size(), 2u);
    EXPECT_EQ(app.st.loggingActive, 0);
}

// --- the interval ---

TEST_F(DataLog, OnlyValidRepliesCountTowardsTheInterval)
{
    const fs::path log = dir / "tank.xls";
    startLog(log);
    chooseInterval("15 sec");
    ASSERT_EQ(app.st.logInterval, 3);
    struct Step {
        bool valid;
        std::size_t rowsAfter;
    };
    const Step steps[] = {{true, 0}, {true, 0}, {false, 0}, {true, 1},  {false, 1},
                          {true, 1}, {true, 1}, {false, 1}, {false, 1}, {true, 2}};
    int n = 0;
    for (const Step& s : steps) {
        SCOPED_TRACE("poll " + std::to_string(++n));
        tick(s.valid);
        const std::string text = slurp(log);
        EXPECT_EQ(text.empty() ? std::size_t{0} : count(text, "\n") - 1, s.rowsAfter);
    }
}

TEST_F(DataLog, OneMinuteWritesEveryTwelfthValidReply)
{
    const fs::path log = dir / "tank.xls";
    startLog(log);
    chooseInterval("1 min");
    ASSERT_EQ(app.st.logInterval, 12);
    std::vector<int> rowAt;
    std::uintmax_t size = 0;
    for (int poll = 1; poll <= 36; ++poll) {
        tick();
        if (fs::file_size(log) != size)
            rowAt.push_back(poll);
        size = fs::file_size(log);
    }
    EXPECT_EQ(rowAt, (std::vector<int>{12, 24, 36}));
}

TEST_F(DataLog, LoweringTheIntervalMidRunKeepsTheRowsComing)
{
    const fs::path log = dir / "tank.xls";
    startLog(log);
    chooseInterval("30 sec");
    for (int i = 0; i < 4; ++i)
        tick();
    ASSERT_EQ(slurp(log), "") << "4 of 6 replies counted";
    chooseInterval("15 sec");  // below the count already reached
    std::vector<int> rowAt;
    std::uintmax_t size = 0;
    for (int poll = 1; poll <= 7; ++poll) {
        tick();
        if (fs::file_size(log) != size)
            rowAt.push_back(poll);
        size = fs::file_size(log);
    }
    EXPECT_EQ(rowAt, (std::vector<int>{1, 4, 7}));

    chooseInterval("5 sec");
    tick();
    tick();
    EXPECT_EQ(count(slurp(log), "\n"), 1u + 3u + 2u);
}

// --- the size limit ---

TEST_F(DataLog, AFileAtTwoMillionBytesTakesNoRowAndTurnsLoggingOff)
{
    struct Case {
        std::uintmax_t size;
        bool rowWritten;
    };
    for (const Case& c : {Case{1999999, true}, Case{2000000, false}, Case{2500000, false}}) {
        SCOPED_TRACE(c.size);
        const fs::path log = dir / ("big-" + std::to_string(c.size) + ".xls");
        spit(log, "");
        fs::resize_file(log, c.size);
        startLog(log);
        tick();
        EXPECT_EQ(fs::file_size(log), c.rowWritten ? c.size + 59 : c.size);
        EXPECT_EQ(app.st.loggingActive, c.rowWritten ? 1 : 0);
        EXPECT_EQ(ioErrors(), 0u) << "the limit is not an error";
        if (!c.rowWritten) {
            tick();
            EXPECT_EQ(str(DATA_LOG_DATALOG_MSG), "No writing file");
            EXPECT_EQ(msgColor(), VAL_WHITE);
        }
        stopWriting();
        closeLogger();
    }
}

// --- the window ---

TEST_F(DataLog, ClosingAndReopeningTheWindowWhileWritingKeepsTheRowsComing)
{
    const fs::path log = dir / "tank.xls";
    startLog(log);
    chooseInterval("5 sec");
    tick();
    EXPECT_EQ(str(DATA_LOG_DATALOG_MSG), "Writing file");
    EXPECT_EQ(msgColor(), VAL_YELLOW);

    closeLogger();
    tick();
    tick();
    EXPECT_EQ(slurp(log), kHeader + exampleRow("17:05:09") + exampleRow("17:05:10") + exampleRow("17:05:11"));

    openLogger();
    // While writing, the reopened window names the log at once (not ".xls"), so an
    // "Open/Create" pressed before the next poll cannot switch to a file named ".xls".
    EXPECT_EQ(str(DATA_LOG_FILE_NAME), log.string());
    EXPECT_EQ(str(DATA_LOG_DATALOG_MSG), "Writing file");
    const auto sizeAtRefresh = static_cast<long long>(fs::file_size(log));
    tick();
    EXPECT_EQ(str(DATA_LOG_FILE_NAME), log.string());
    // The window is refreshed before the poll's row goes out.
    EXPECT_EQ(num(DATA_LOG_FILE_SIZE), sizeAtRefresh);
    EXPECT_EQ(num(DATA_LOG_WRITE_TIMER), 1);
    EXPECT_EQ(str(DATA_LOG_DATALOG_MSG), "Writing file");
    EXPECT_EQ(msgColor(), VAL_YELLOW);
    EXPECT_EQ(count(slurp(log), "\n"), 5u);
}

TEST_F(DataLog, WithLoggingOffTheOpenWindowSaysNoWritingFileInWhite)
{
    openLogger();
    tick();
    EXPECT_EQ(str(DATA_LOG_DATALOG_MSG), "No writing file");
    EXPECT_EQ(msgColor(), VAL_WHITE);
}

// --- opening files ---

TEST_F(DataLog, OpenCreateWhileAFileIsOpenClosesThatFileFirst)
{
    const fs::path first = dir / "first.xls", second = dir / "second.xls";
    startLog(first);
    tick();
    ASSERT_EQ(descriptorsOn(first), 1);
    openCreate(second);
    EXPECT_EQ(descriptorsOn(first), 0);
    EXPECT_EQ(descriptorsOn(second), 1);
    tick();
    EXPECT_EQ(slurp(first), kHeader + exampleRow("17:05:09"));
    EXPECT_EQ(slurp(second), kHeader + exampleRow("17:05:10")) << "the rows follow the new file, header first";
}

TEST_F(DataLog, AFailedOpenSaysFileIOErrorAndLeavesTheOpenFileInUse)
{
    const fs::path log = dir / "tank.xls";
    startLog(log);
    tick();
    const fs::path folder = dir / "a-folder.xls";
    fs::create_directory(folder);
    struct Bad {
        fs::path name;
        const char* title;
        std::string text;
    };
    const std::string longName = (dir / std::string(300, 'x')).string() + ".xls";
    for (const Bad& bad :
         {Bad{folder, "File I/O Error", "\"" + folder.string() + "\": it is not a regular file"},
          Bad{dir / "no-such-dir" / "x.xls", "File I/O Error",
              "\"" + (dir / "no-such-dir" / "x.xls").string() + "\": No such file or directory"},
          Bad{longName, "File I/O Error", "\"" + longName + "\": File name too long"},
          Bad{fs::path(""), "Warning", "Type a file name"}, Bad{fs::path(".xls"), "Warning", "Type a file name"},
          Bad{dir / ".xls", "Warning", "Type a file name"}}) {
        SCOPED_TRACE(bad.name.string());
        const std::size_t before = r.popups.popups.size();
        openCreate(bad.name);
        ASSERT_EQ(r.popups.popups.size(), before + 1);
        EXPECT_EQ(r.popups.popups.back().title, bad.title);
        EXPECT_EQ(r.popups.popups.back().text, bad.text);
        EXPECT_EQ(descriptorsOn(log), 1);
        EXPECT_EQ(app.st.loggingActive, 1);
    }
    tick();
    EXPECT_EQ(slurp(log), kHeader + exampleRow("17:05:09") + exampleRow("17:05:10"));
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_TRUE(fs::is_empty(folder));
    EXPECT_FALSE(fs::exists(dir / ".xls")) << "no hidden file was made";
}

TEST_F(DataLog, ANameThatIsNoRegularFileIsRefusedWithoutWaitingOnIt)
{
    // Opening a pipe for writing waits for a reader that never comes; the window would
    // freeze. The child has a watchdog so that a hang fails the test instead of the suite.
    const fs::path pipe = dir / "pipe.xls";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0644), 0);
    openLogger();
    const int status = inChildWithin(10, [&] {
        openCreate(pipe);
        EXPECT_EQ(ioErrors(), 1u);
        EXPECT_FALSE(app.st.logFileOpen);
    });
    EXPECT_EQ(status, 0) << (status == 128 + SIGALRM ? "Open/Create hung on a pipe" : "see the child's failures above");
    EXPECT_EQ(fs::status(pipe).type(), fs::file_type::fifo);
}

TEST_F(DataLog, ADirectoryAsTheOnlyFileLeavesNothingToStart)
{
    openLogger();
    openCreate(dir);
    EXPECT_EQ(ioErrors(), 1u);
    startWriting();
    EXPECT_EQ(app.st.loggingActive, 0);
}

TEST_F(DataLog, ALongFileNameIsUsedWhole)
{
    const std::string name = "measurements-of-the-north-tank-" + std::string(150, 'n') + ".xls";
    const fs::path log = dir / name;
    ASSERT_GT(log.string().size(), 19u);
    startLog(log);
    tick();
    EXPECT_EQ(slurp(log), kHeader + exampleRow("17:05:09"));
    // Nothing was written under a shortened name.
    std::size_t files = 0;
    for (const auto& e : fs::directory_iterator(dir)) {
        ++files;
        EXPECT_EQ(e.path().filename().string(), name);
    }
    EXPECT_EQ(files, 1u);
}

TEST_F(DataLog, ARowOfHugeValuesIsWrittenWhole)
{
    r.setFloat(3, FLT_MAX);
    r.setFloat(5, -FLT_MAX);
    r.setFloat(7, 3.0e38f);
    const fs::path log = dir / "tank.xls";
    startLog(log);
    tick();
    char expected[512];
    const int n = std::snprintf(
        expected, sizeof expected, "03-14-2016\t17:05:09\t 1234\t  766\t%.1f\t%.1f\t%.1f\t   0\tON\tOFF\n",
        static_cast<double>(FLT_MAX), static_cast<double>(-FLT_MAX), static_cast<double>(3.0e38f));
    ASSERT_GT(n, 79);
    EXPECT_EQ(slurp(log), kHeader + std::string(expected, static_cast<std::size_t>(n)));
}

// --- the file system says no ---

TEST_F(DataLog, AReadOnlyPlaceRefusesTheOpenWithFileIOError)
{
    const fs::path writable = dir / "tank.xls";
    const fs::path roDir = dir / "read-only";
    fs::create_directory(roDir);
    const fs::path roFile = dir / "read-only.xls";
    spit(roFile, kHeader);
    startLog(writable);
    tick();
    // The unprivileged child must still reach and read the file in use.
    const auto readable = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                          fs::perms::others_read | fs::perms::others_exec;
    fs::permissions(dir, readable);
    fs::permissions(writable,
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
    fs::permissions(roDir, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                               fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(roFile, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);

    // Permission bits do not stop root, so as root the scenario runs in a child that has
    // given up root for the unprivileged "nobody".
    const bool root = ::geteuid() == 0;
    const int status = inChild([&]() -> int {
        if (root && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
            return kChildSkipped;
        if (::access(roDir.c_str(), W_OK) == 0 || ::access(roFile.c_str(), W_OK) == 0)
            return kChildSkipped;
        for (const fs::path& bad : {roDir / "new.xls", roFile}) {
            SCOPED_TRACE(bad.string());
            const std::size_t before = ioErrors();
            openCreate(bad);
            EXPECT_EQ(ioErrors(), before + 1);
        }
        EXPECT_FALSE(fs::exists(roDir / "new.xls"));
        EXPECT_EQ(app.st.loggingActive, 1);
        tick();  // the file opened earlier is still the one in use
        EXPECT_EQ(slurp(writable), kHeader + exampleRow("17:05:09") + exampleRow("17:05:10"));
        return 0;
    });
    if (status == kChildSkipped)
        GTEST_SKIP() << "cannot make a directory this process is unable to write into (running as root without "
                        "the right to become another user)";
    EXPECT_EQ(status, 0) << "see the child's failures above";
    EXPECT_EQ(slurp(roFile), kHeader);
}

TEST_F(DataLog, AWriteCutShortByAFileSizeLimitStopsLoggingAndSaysSoOnce)
{
    // The limit applies to every file the child writes, so the log starts well above the
    // size of any output file the test's own messages might go to.
    const std::string earlier = kHeader + std::string(1000000, '#') + "\n";
    struct Case {
        const char* what;
        std::size_t slack;  // bytes allowed past the two rows that fit
    };
    for (const Case& c : {Case{"the third row falls short", 20}, Case{"the third row gets no byte", 0}}) {
        SCOPED_TRACE(c.what);
        const fs::path log = dir / (std::string("limited-") + std::to_string(c.slack) + ".xls");
        spit(log, earlier);
        const std::string twoRows = exampleRow("17:05:09") + exampleRow("17:05:10");
        const rlim_t limit = earlier.size() + twoRows.size() + c.slack;
        const int status = inChild([&]() -> int {
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit lim{limit, limit};
            if (::setrlimit(RLIMIT_FSIZE, &lim) != 0)
                return kChildSkipped;
            startLog(log);
            tick();
            tick();
            EXPECT_EQ(slurp(log), earlier + twoRows);
            EXPECT_EQ(ioErrors(), 0u);
            tick();
            EXPECT_EQ(app.st.loggingActive, 0);
            EXPECT_EQ(ioErrors(), 1u);
            for (int i = 0; i < 3; ++i)
                tick();
            EXPECT_EQ(ioErrors(), 1u) << "said once, not at every poll";
            EXPECT_EQ(descriptorsOn(log), 0) << "the failed file is let go";
            return 0;
        });
        if (status == kChildSkipped)
            GTEST_SKIP() << "setrlimit(RLIMIT_FSIZE) refused";
        EXPECT_EQ(status, 0) << "see the child's failures above";
        const std::string after = slurp(log);
        EXPECT_EQ(after.substr(0, earlier.size() + twoRows.size()), earlier + twoRows) << "earlier rows intact";
        EXPECT_LE(after.size(), limit);
    }
}

TEST_F(DataLog, ALogFileRemovedWhileWritingStopsLoggingAndSaysSoOnce)
{
    const fs::path log = dir / "tank.xls";
    startLog(log);
    tick();
    fs::remove(log);
    tick();
    EXPECT_EQ(app.st.loggingActive, 0);
    EXPECT_EQ(ioErrors(), 1u);
    tick();
    tick();
    EXPECT_EQ(ioErrors(), 1u);
    EXPECT_FALSE(fs::exists(log)) << "nothing recreates the file behind the user's back";
}

TEST_F(DataLog, AFailureDuringThePollSaysSoWithoutHoldingThePollingUp)
{
    const fs::path log = dir / "tank.xls";
    startLog(log);
    tick();
    fs::remove(log);
    const int polls = app.link.pollCount;
    tick();
    ASSERT_EQ(ioErrors(), 1u);
    EXPECT_FALSE(r.popups.popups.back().modal) << "the box does not wait for a click inside the poll";
    tick();
    EXPECT_EQ(app.link.pollCount, polls + 2) << "the polls go on while the message is up";
}

TEST_F(DataLog, OpenCreatePressedTwiceOnANewNameStillGivesTheLogItsHeader)
{
    const fs::path log = dir / "fresh.xls";
    openLogger();
    openCreate(log);
    panels.PostEvent(logger(), DATA_LOG_OPEN_CREATE_FILE, EVENT_COMMIT);
    ASSERT_EQ(fs::file_size(log), 0u) << "the first press left an empty file";
    startWriting();
    tick();
    EXPECT_EQ(slurp(log), kHeader + exampleRow("17:05:09"));
}

TEST_F(DataLog, BrowseOnlyFillsTheNameBoxAndCancellingKeepsWhatWasTyped)
{
    openLogger();
    const fs::path typed = dir / "typed.xls";
    ASSERT_EQ(panels.UserSetValue(logger(), DATA_LOG_FILE_NAME, Value(typed.string())), 0);

    // Cancelled: the typed name stays, and the dialog started from it.
    r.popups.fileAnswer = "";
    panels.PostEvent(logger(), DATA_LOG_BROWSE, EVENT_COMMIT);
    EXPECT_EQ(str(DATA_LOG_FILE_NAME), typed.string());
    ASSERT_FALSE(r.popups.popups.empty());
    EXPECT_EQ(r.popups.popups.back().text, typed.string());

    // Chosen: the box takes the path, nothing is created until Open/Create, which then uses it.
    const fs::path chosen = dir / "chosen.xls";
    r.popups.fileAnswer = chosen.string();
    panels.PostEvent(logger(), DATA_LOG_BROWSE, EVENT_COMMIT);
    EXPECT_EQ(str(DATA_LOG_FILE_NAME), chosen.string());
    EXPECT_FALSE(fs::exists(chosen));
    panels.PostEvent(logger(), DATA_LOG_OPEN_CREATE_FILE, EVENT_COMMIT);
    startWriting();
    tick();
    EXPECT_EQ(slurp(chosen), kHeader + exampleRow("17:05:09"));
    EXPECT_FALSE(fs::exists(typed));
}
