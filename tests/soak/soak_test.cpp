// Soak: the program left polling for weeks on a noisy line, and its windows opened and
// closed over and over. All on the virtual clock and the in-memory line, so ten thousand
// poll cycles take seconds. After a warm-up nothing may grow: not the windows the panel
// model holds, not the heap. The test build runs under AddressSanitizer, whose leak
// checker is asked for a verdict at the end of each test as well as at exit.
#include <gtest/gtest.h>
#include <malloc.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "app_rig.h"
#include "cwd_guard.h"

#if defined(__SANITIZE_ADDRESS__)
#define VEK_SOAK_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VEK_SOAK_ASAN 1
#endif
#endif

#ifdef VEK_SOAK_ASAN
#include <sanitizer/lsan_interface.h>
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#else
#include <atomic>
#include <cstdlib>
#include <new>
#if __has_include(<valgrind/memcheck.h>)
#include <valgrind/memcheck.h>
#define VEK_SOAK_VALGRIND 1
#endif

// In a plain build the heap in use is counted here: every C++ allocation passes through
// these two, and the array, nothrow and sized forms of the library come back to them.
// (Under valgrind its own allocator takes them over and its leak checker counts instead.)
namespace {
std::atomic<long long> cppHeapInUse{0};
}
void* operator new(std::size_t n)
{
    void* p = std::malloc(n ? n : 1);
    if (!p)
        throw std::bad_alloc();
    cppHeapInUse += static_cast<long long>(malloc_usable_size(p));
    return p;
}
void operator delete(void* p) noexcept
{
    if (p)
        cppHeapInUse -= static_cast<long long>(malloc_usable_size(p));
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }
#endif

using namespace vek;
using namespace vek::test;

namespace {

// Bytes the program holds on the heap right now: under ASan every allocation, as its
// allocator counts them; otherwise every C++ allocation, as counted above.
#ifdef VEK_SOAK_VALGRIND
struct ValgrindHeap {
    unsigned long leaked = 0, dubious = 0, reachable = 0, suppressed = 0;
};
ValgrindHeap valgrindHeap()
{
    ValgrindHeap h;
    VALGRIND_DO_QUICK_LEAK_CHECK;
    VALGRIND_COUNT_LEAKS(h.leaked, h.dubious, h.reachable, h.suppressed);
    return h;
}
#endif

std::size_t heapInUse()
{
#ifdef VEK_SOAK_ASAN
    return __sanitizer_get_current_allocated_bytes();
#else
#ifdef VEK_SOAK_VALGRIND
    if (RUNNING_ON_VALGRIND) {
        const ValgrindHeap h = valgrindHeap();
        return h.leaked + h.dubious + h.reachable + h.suppressed;
    }
#endif
    return static_cast<std::size_t>(cppHeapInUse.load());
#endif
}

// No memory that nothing points to any more, now (not only at exit).
void expectNoLeak()
{
#ifdef VEK_SOAK_ASAN
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0) << "LeakSanitizer found leaks (see its report above)";
#elif defined(VEK_SOAK_VALGRIND)
    if (RUNNING_ON_VALGRIND) {
        const ValgrindHeap h = valgrindHeap();
        EXPECT_EQ(h.leaked, 0u) << "valgrind found leaked blocks";
        EXPECT_EQ(h.dubious, 0u) << "valgrind found possibly leaked blocks";
    }
#endif
}

// The figure goes to the console and the XML report, for the record.
void reportGrowth(std::size_t before, std::size_t after)
{
    const long long growth = static_cast<long long>(after) - static_cast<long long>(before);
    std::printf("heap in use: %zu bytes before, %zu after, growth %lld bytes\n", before, after, growth);
    ::testing::Test::RecordProperty("heap_growth_bytes", std::to_string(growth));
}

// Growth allowed over the whole soak after the warm-up. A leak of two bytes a cycle would
// already pass it; the heap of a steady program moves by a few allocations at most.
constexpr std::size_t kGrowthBound = 16 * 1024;

enum class Reply { Good, Short, Long, BadCrc, ForeignSlave, Exception, SerialError, Silence };
constexpr int kReplyKinds = 8;

struct Soak : ::testing::Test {
    CwdGuard cwd;
    AppRig rig;
    ui::PanelModel& panels = rig.panels;
    App& app = rig.app;

    std::uint32_t seed = 12345;
    std::uint32_t next()
    {
        seed = seed * 1664525u + 1013904223u;  // a fixed sequence: every run soaks the same
        return seed >> 8;
    }

    long long mainNumber(int ctrl) const
    {
        long long v = -1;
        panels.GetCtrlVal(app.st.panelMain, ctrl, v);
        return v;
    }

    // The line and the transmitter's answer for the next poll.
    void script(Reply kind, std::uint16_t distance, std::uint8_t exceptionCode)
    {
        rig.com.failNextRead = kind == Reply::SerialError ? platform::RS_ERR_DEVICE_GONE : 0;
        rig.com.peer = [this, kind, distance, exceptionCode](int port, const AppRig::Bytes& request) {
            rig.regs[0] = distance;
            AppRig::Bytes r = rig.pollReplyFrom(request[0]);
            switch (kind) {
            case Reply::Good:
            case Reply::SerialError: break;
            case Reply::Short: r.pop_back(); break;
            case Reply::Long: r.push_back(0x00); break;
            case Reply::BadCrc: r[r.size() - 1] ^= 0x5A; break;
            case Reply::ForeignSlave: r = rig.pollReplyFrom(static_cast<std::uint8_t>(request[0] + 1)); break;
            case Reply::Exception: r = AppRig::withCrc({request[0], 0x83, exceptionCode}); break;
            case Reply::Silence: return;
            }
            rig.com.injectAfter(port, rig.replyDelay, r);
        };
    }

    static std::string expectedMessage(Reply kind, std::uint8_t exceptionCode)
    {
        switch (kind) {
        case Reply::Good: return "";
        case Reply::Short:
        case Reply::Long:
        case Reply::Silence: return "-NO RESPONSE-";
        case Reply::BadCrc: return "-CRC-";
        case Reply::ForeignSlave: return "-UID-";
        case Reply::Exception: return "-EXCEPTION " + std::to_string(exceptionCode) + "-";
        case Reply::SerialError: return platform::Rs232ErrorText(platform::RS_ERR_DEVICE_GONE);
        }
        return "?";
    }

    // The test's own records of the line grow with every frame; they are not the program's.
    void forgetLineRecords()
    {
        rig.com.frames.clear();
        rig.com.frames.shrink_to_fit();
        rig.com.opens.clear();
        rig.com.opens.shrink_to_fit();
        rig.com.openNames.clear();
        rig.com.openNames.shrink_to_fit();
        rig.com.closes.clear();
        rig.com.closes.shrink_to_fit();
    }

    // The session's traffic and trend stores grow by design up to their bounds (10,000
    // frames, a day of points), which their own tests check. Here they get small bounds,
    // which the warm-up fills, so that from then on they must hold still like the rest.
    void boundStoresSmall()
    {
        app.traffic = TrafficRecorder(64);
        app.trend = TrendRecorder(24);
    }

    void press(int ctrl) { panels.PostEvent(app.st.panelMain, ctrl, EVENT_COMMIT); }
    bool shown(int handle, int panelId) const
    {
        const ui::Panel* p = panels.panel(handle);
        return p && p->visible && p->id == panelId;
    }
};

}  // namespace

TEST_F(Soak, TenThousandPollCyclesOfGoodAndFaultyRepliesCountEveryOneAndGrowNothing)
{
    rig.configurePort(1);
    boundStoresSmall();
    // The set-up windows and the logger follow every valid poll, so keep them open.
    press(PANEL_SET_UP_UT);
    press(PANEL_LOGGER);
    press(PANEL_SET_UP);
    panels.UserSetValue(app.st.panelPassword, PASSWORD_STRING, ui::Value(std::string(kPassword)));
    panels.PostEvent(app.st.panelPassword, PASSWORD_ENTER, EVENT_COMMIT);
    ASSERT_TRUE(shown(app.st.panelAdvanced, PANEL_3));

    constexpr int kCycles = 10000;
    constexpr int kWarmUp = 500;
    const std::size_t windows = panels.handles().size();
    std::size_t heapAfterWarmUp = 0;
    int sent = 0, good = 0, recoveries = 0;
    long long lastGoodDistance = mainNumber(PANEL_DISTANCE_MM);
    std::vector<int> seen(kReplyKinds, 0);

    for (int cycle = 0; cycle < kCycles; ++cycle) {
        if (cycle == kWarmUp) {
            ASSERT_EQ(app.traffic.size(), app.traffic.capacity()) << "the warm-up did not fill the traffic store";
            ASSERT_EQ(app.trend.points().size(), 24u) << "the warm-up did not fill the trend store";
            forgetLineRecords();
            heapAfterWarmUp = heapInUse();
        }
        // A serial error makes the next tick a recovery tick that sends nothing.
        const bool recovering = app.link.commError != 0;
        const Reply kind = static_cast<Reply>(next() % kReplyKinds);
        const auto distance = static_cast<std::uint16_t>(next() % 6000);
        const auto exceptionCode = static_cast<std::uint8_t>(1 + next() % 4);
        if (!recovering)
            script(kind, distance, exceptionCode);
        const std::size_t framesBefore = rig.com.frames.size();
        rig.tick();

        if (recovering) {
            ++recoveries;
            ASSERT_EQ(rig.com.frames.size(), framesBefore) << "cycle " << cycle << ": a recovery tick sent a request";
            ASSERT_EQ(rig.mainMessage(), "") << "cycle " << cycle;
            ASSERT_EQ(rig.mainLed(), 0) << "cycle " << cycle;
        } else {
            ++sent;
            ++seen[static_cast<int>(kind)];
            if (kind == Reply::Good) {
                ++good;
                lastGoodDistance = distance;
            }
            ASSERT_EQ(rig.mainMessage(), expectedMessage(kind, exceptionCode))
                << "cycle " << cycle << ", reply kind " << static_cast<int>(kind);
            ASSERT_EQ(rig.mainLed(), kind == Reply::Good ? 0 : 1) << "cycle " << cycle;
        }
        ASSERT_EQ(mainNumber(PANEL_DISTANCE_MM), lastGoodDistance)
            << "cycle " << cycle << ": the window shows a value no good reply carried";
        ASSERT_EQ(mainNumber(PANEL_N_POLLS), sent) << "cycle " << cycle;
        ASSERT_EQ(mainNumber(PANEL_N_VALID_RESP), good) << "cycle " << cycle;
        ASSERT_EQ(panels.handles().size(), windows) << "cycle " << cycle << ": windows came or went";
        if (cycle >= kWarmUp)
            forgetLineRecords();
    }

    for (int k = 0; k < kReplyKinds; ++k)
        EXPECT_GT(seen[k], 500) << "reply kind " << k << " was hardly tried";
    EXPECT_EQ(sent + recoveries, kCycles);
    EXPECT_EQ(app.link.pollCount, sent);
    EXPECT_EQ(app.st.validResponseCount, good);
    EXPECT_EQ(rig.popups.popups.size(), 0u);

    rig.com.peer = nullptr;
    const std::size_t heapAtEnd = heapInUse();
    EXPECT_LE(heapAtEnd, heapAfterWarmUp + kGrowthBound)
        << "the heap grew by " << (heapAtEnd - heapAfterWarmUp) << " bytes over " << kCycles - kWarmUp << " cycles";
    reportGrowth(heapAfterWarmUp, heapAtEnd);
    expectNoLeak();
}

TEST_F(Soak, EveryWindowOpenedAndClosedAThousandTimesLeavesNothingBehind)
{
    rig.configurePort(1);
    boundStoresSmall();
    rig.transmitter();
    // The eight windows a user opens from the main window, each with the way it is closed.
    auto openAndCloseAll = [this](int round) {
        press(PANEL_CONFIG_SER_PORT);
        ASSERT_TRUE(shown(app.st.panelRs485, PANEL_2)) << round;
        panels.PostEvent(app.st.panelRs485, PANEL_2_EXIT, EVENT_COMMIT);

        press(PANEL_INFO);
        ASSERT_TRUE(shown(app.st.panelInfo, INFO)) << round;
        panels.PostEvent(app.st.panelInfo, INFO_EXIT, EVENT_COMMIT);

        press(PANEL_LOGGER);
        ASSERT_TRUE(shown(app.st.panelDataLog, DATA_LOG)) << round;
        panels.PostEvent(app.st.panelDataLog, DATA_LOG_EXIT, EVENT_COMMIT);

        press(PANEL_SET_UP);  // the password window, left with Quit
        ASSERT_TRUE(shown(app.st.panelPassword, PASSWORD)) << round;
        panels.PostEvent(app.st.panelPassword, PASSWORD_EXIT, EVENT_COMMIT);

        press(PANEL_SET_UP_UT);
        ASSERT_TRUE(shown(app.st.panelUser, PANEL_4)) << round;
        press(PANEL_SET_UP);  // and through it to the advanced set-up
        panels.UserSetValue(app.st.panelPassword, PASSWORD_STRING, ui::Value(std::string(kPassword)));
        panels.PostEvent(app.st.panelPassword, PASSWORD_ENTER, EVENT_COMMIT);
        ASSERT_TRUE(shown(app.st.panelAdvanced, PANEL_3)) << round;
        // Both set-up windows follow a poll while they are open.
        rig.tick();
        ASSERT_EQ(rig.mainMessage(), "") << round;

        // The two write dialogs, closed without writing.
        panels.PostEvent(app.st.panelMain, PANEL_UID, EVENT_LEFT_DOUBLE_CLICK);
        ASSERT_TRUE(shown(app.st.panelWriteDialog, WRITE_VAL)) << round;
        panels.PostEvent(app.st.panelWriteDialog, WRITE_VAL_EXIT, EVENT_COMMIT);
        panels.PostEvent(app.st.panelAdvanced, PANEL_3_CONFIG_INDEX_1, EVENT_LEFT_DOUBLE_CLICK);
        ASSERT_TRUE(shown(app.st.panelWriteDialog, WR_ASCII)) << round;
        panels.PostEvent(app.st.panelWriteDialog, WR_ASCII_EXIT, EVENT_COMMIT);

        panels.PostEvent(app.st.panelAdvanced, PANEL_3_EXIT_3, EVENT_COMMIT);
        panels.PostEvent(app.st.panelUser, PANEL_4_USCITA, EVENT_COMMIT);
    };

    // The first round replaces the hidden copies loaded at start-up.
    openAndCloseAll(0);
    ASSERT_FALSE(HasFatalFailure());
    const std::size_t windows = panels.handles().size();
    forgetLineRecords();
    const std::size_t heapBefore = heapInUse();
    for (int round = 1; round <= 1000; ++round) {
        openAndCloseAll(round);
        ASSERT_FALSE(HasFatalFailure());
        ASSERT_EQ(panels.handles().size(), windows) << "round " << round << ": windows left behind";
        for (int h : panels.handles()) {
            if (h != app.st.panelMain) {
                ASSERT_FALSE(panels.panel(h)->visible) << "round " << round << ": a window stayed open";
            }
        }
        forgetLineRecords();
    }
    EXPECT_EQ(app.link.pollCount, 1001);
    EXPECT_EQ(app.st.validResponseCount, 1001);
    EXPECT_EQ(rig.popups.popups.size(), 0u);
    const std::size_t heapAfter = heapInUse();
    EXPECT_LE(heapAfter, heapBefore + kGrowthBound)
        << "the heap grew by " << (heapAfter - heapBefore) << " bytes over 1000 rounds";
    reportGrowth(heapBefore, heapAfter);
    expectNoLeak();
}
