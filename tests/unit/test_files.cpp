// File and utility services on real files and a fixed clock.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "files.h"
#include "in_child.h"

using namespace vek::platform;

namespace {

std::string dir()
{
    const auto d = std::filesystem::temp_directory_path() / ("vek-files-" + std::to_string(::getpid()));
    std::filesystem::create_directories(d);
    return d.string();
}

std::string contents(const std::string& p)
{
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

}  // namespace

TEST(Utility, DateAndTimeTextsOfTheWallClock)
{
    // 14 March 2016 17:05:09 UTC (the tests run with TZ=UTC).
    VirtualClock clock(1457975109);
    EXPECT_EQ(DateStr(clock), "03-14-2016");
    EXPECT_EQ(TimeStr(clock), "17:05:09");
    clock.advanceTo(25000.0);  // past midnight: the day turns, hours stay on 24
    EXPECT_EQ(DateStr(clock), "03-15-2016");
    EXPECT_EQ(TimeStr(clock), "00:01:49");
}

TEST(Utility, CompareStringsWithAndWithoutCase)
{
    EXPECT_EQ(CompareStrings("TuNdO", 0, "tundo", 0, 0), 0);
    EXPECT_NE(CompareStrings("TuNdO", 0, "tundo", 0, 1), 0);
    EXPECT_NE(CompareStrings("tundo ", 0, "tundo", 0, 0), 0);
    EXPECT_NE(CompareStrings("", 0, "tundo", 0, 0), 0);
    EXPECT_EQ(CompareStrings("xxtundo", 2, "tundo", 0, 0), 0);
    EXPECT_EQ(CompareStrings("", 5, "", 0, 1), 0) << "an index past the end compares as empty";
}

TEST(Files, InfoTellsExistingMissingAndOddPaths)
{
    PosixFiles f;
    long long size = -1;
    const std::string p = dir() + "/info.txt";
    std::ofstream(p) << "12345";
    EXPECT_EQ(f.GetFileInfo(p, &size), 1);
    EXPECT_EQ(size, 5);
    EXPECT_EQ(f.GetFileInfo(dir() + "/missing", &size), 0);
    EXPECT_EQ(size, 0);
    EXPECT_LT(f.GetFileInfo(dir(), &size), 0) << "a directory is not a log file";
}

TEST(Files, TruncateAppendAndUntranslatedWrites)
{
    PosixFiles f;
    const std::string p = dir() + "/log.xls";
    int h = f.CVI_OpenFile(p, FILE_ACCESS_WRITE, FILE_ACTION_TRUNCATE, FILE_TYPE_BINARY);
    ASSERT_GE(h, 0);
    EXPECT_EQ(f.CVI_WriteFile(h, "a\tb\n", 4), 4);
    EXPECT_EQ(contents(p), "a\tb\n") << "reaches the file at once, before any close";
    f.CVI_CloseFile(h);
    h = f.CVI_OpenFile(p, FILE_ACCESS_WRITE, FILE_ACTION_APPEND, FILE_TYPE_BINARY);
    EXPECT_EQ(f.CVI_WriteFile(h, "c\n", 2), 2);
    f.CVI_CloseFile(h);
    EXPECT_EQ(contents(p), "a\tb\nc\n");
    h = f.CVI_OpenFile(p, FILE_ACCESS_WRITE, FILE_ACTION_TRUNCATE, FILE_TYPE_BINARY);
    f.CVI_CloseFile(h);
    EXPECT_EQ(contents(p), "");
    EXPECT_EQ(f.CVI_OpenFile(dir(), FILE_ACCESS_WRITE, FILE_ACTION_APPEND, 0), -1);
    EXPECT_EQ(f.CVI_OpenFile(dir() + "/no/such/dir/x.xls", FILE_ACCESS_WRITE, FILE_ACTION_APPEND, 0), -1);
    EXPECT_EQ(f.CVI_OpenFile("", FILE_ACCESS_WRITE, FILE_ACTION_APPEND, 0), -1);
    EXPECT_EQ(f.CVI_WriteFile(-1, "x", 1), -1);
}

TEST(Files, AWriteTheDiskCutsShortIsTakenBackWhole)
{
    // The file size limit stands in for a full disk. Run in a child so the limit and the
    // signal it raises stay there.
    const std::string p = dir() + "/limited.xls";
    ::unlink(p.c_str());
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit lim {
            10, 10
        };
        ::setrlimit(RLIMIT_FSIZE, &lim);
        PosixFiles f;
        const int h = f.CVI_OpenFile(p, FILE_ACCESS_WRITE, FILE_ACTION_APPEND, FILE_TYPE_BINARY);
        const bool first = f.CVI_WriteFile(h, "row 1\n", 6) == 6;
        const bool cut = f.CVI_WriteFile(h, "row 2\n", 6) == 0;    // only 4 bytes would fit
        const bool again = f.CVI_WriteFile(h, "row 3\n", 6) == 0;  // still no room for a whole row
        ::_exit(first && cut && again ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(contents(p), "row 1\n") << "no half row is left at the end";
}

TEST(Files, OnlyARegularFileWithinTheLimitIsReadWholeAndNothingElseIsWaitedOn)
{
    const std::string d = dir();
    const std::string text = "0123456789", small = d + "/ten.txt", pipe = d + "/pipe.json";
    std::ofstream(small) << text;
    ::unlink(pipe.c_str());
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0644), 0);
    using R = WholeFile::Result;
    const struct {
        const char* what;
        std::string path;
        long long limit;
        R result;
        const char* why;
        long long size;
    } cases[] = {
        {"a file at the limit", small, 10, R::Read, "", 10},
        {"a file one byte over", small, 9, R::TooLarge, "", 10},
        {"a named pipe nobody writes to", pipe, 1000, R::NotRegular, "a named pipe", 0},
        {"a device without end", "/dev/zero", 1000, R::NotRegular, "a character device", 0},
        {"an empty device", "/dev/null", 1000, R::NotRegular, "a character device", 0},
        {"a folder", d, 1000, R::NotRegular, "a folder", 0},
        {"nothing", d + "/missing.json", 1000, R::Unreadable, "No such file or directory", 0},
        {"no name", "", 1000, R::Unreadable, "No such file or directory", 0},
    };
    // A reader that opened the pipe would wait for a writer: the watchdog ends that.
    const int status = vek::test::inChildWithin(10, [&] {
        for (const auto& c : cases) {
            const WholeFile f = ReadWholeFile(c.path, c.limit);
            EXPECT_EQ(f.result, c.result) << c.what;
            EXPECT_EQ(f.why, c.why) << c.what;
            EXPECT_EQ(f.size, c.size) << c.what;
            EXPECT_EQ(f.text, c.result == R::Read ? text : "") << c.what;
        }
    });
    EXPECT_EQ(status, 0) << (status == 128 + SIGALRM ? "a read waited on a pipe or device"
                                                     : "see the child's failures");
}
