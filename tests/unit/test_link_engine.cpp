// The link engine: who has the line when, how an exchange waits for its reply on the timer
// while everything else goes on, and how the program's end waits for the exchange under way.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "job.h"
#include "link_engine.h"
#include "mb_crc.h"
#include "memory_rs232.h"

using namespace vek;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes withCrc(Bytes f)
{
    const std::uint16_t crc = usMBCRC16(f.data(), f.size());
    f.push_back(static_cast<std::uint8_t>(crc));
    f.push_back(static_cast<std::uint8_t>(crc >> 8));
    return f;
}

struct EngineTest : ::testing::Test {
    platform::VirtualClock clock;
    platform::MemoryRs232 com{clock};
    struct ScheduleTimer : LinkTimer {
        platform::VirtualClock& clock;
        int calls = 0;
        explicit ScheduleTimer(platform::VirtualClock& c) : clock(c) {}
        void After(double seconds, std::function<void()> fn) override
        {
            ++calls;
            clock.schedule(clock.now() + (seconds > 0 ? seconds : 0), std::move(fn));
        }
    } timer{clock};
    LinkEngine engine{timer};
    LinkState link;
    std::vector<std::string> log;

    void SetUp() override { com.OpenComConfig(1, "", 9600, 0, 8, 1, 512, -1); }
    void note(const std::string& what) { log.push_back(what + " " + std::to_string(clock.now())); }

    // Holds the line for `seconds` once it has it.
    Job holder(std::string name, double seconds)
    {
        auto lease = co_await engine.Acquire();
        note(name + (lease ? " has the line" : " refused"));
        if (!lease)
            co_return;
        co_await engine.Sleep(seconds);
        note(name + " lets go");
    }
    // One write of 640 into register 12 of slave 1, 2 s at the most.
    Job write(RtuResult& out)
    {
        auto lease = co_await engine.Acquire();
        MasterIo io{com, clock};
        out = co_await engine.Exchange(
            [&] { return StartWriteSingleRegister(link, io, 1, 1, 12, 640, ReplyWait{2.0, true, 9600, false}); });
        note("verdict");
    }
};

TEST_F(EngineTest, TheLineGoesInTheOrderAskedAndTheProgramsEndWaitsOnlyForTheHolder)
{
    holder("poll", 1.0);
    holder("write A", 0.1);
    holder("write B", 0.1);
    clock.advanceTo(1.5);
    EXPECT_EQ(log, (std::vector<std::string>{"poll has the line 0.000000", "poll lets go 1.000000",
                                             "write A has the line 1.000000", "write A lets go 1.100000",
                                             "write B has the line 1.100000", "write B lets go 1.200000"}));
    EXPECT_FALSE(engine.busy());

    // Exit while a poll holds the line and a write waits: the write is refused at once, the
    // program ends when the poll lets go, and nobody gets the line after.
    log.clear();
    holder("poll", 1.0);
    holder("write", 0.1);
    clock.advanceTo(2.0);
    engine.Shutdown([&] { note("end"); });
    EXPECT_TRUE(engine.cancelRequested());
    holder("late write", 0.1);
    clock.advanceTo(5.0);
    EXPECT_EQ(log, (std::vector<std::string>{"poll has the line 1.500000", "late write refused 2.000000",
                                             "write refused 2.000000", "poll lets go 2.500000", "end 2.500000"}));
}

// A fault in work that holds the line is reported, and the line is let go: the polls go on.
TEST_F(EngineTest, AJobThatFailsIsReportedAndLetsGoOfTheLine)
{
    std::string reported;
    Job::onError = [&](std::exception_ptr e) {
        try {
            std::rethrow_exception(e);
        } catch (const std::exception& x) {
            reported = x.what();
        }
    };
    struct Failing {
        static Job run(LinkEngine& engine)
        {
            auto lease = co_await engine.Acquire();
            co_await engine.Sleep(0.5);
            throw std::runtime_error("a fault");
        }
    };
    Failing::run(engine);
    holder("poll", 0.1);
    clock.advanceTo(1.0);
    Job::onError = nullptr;
    EXPECT_EQ(reported, "a fault");
    EXPECT_EQ(log, (std::vector<std::string>{"poll has the line 0.500000", "poll lets go 0.600000"}));
}

TEST_F(EngineTest, AnExchangeLooksForItsReplyOnTheTimerAndEndsAsTheLineSays)
{
    const Bytes echo = withCrc({1, 6, 0, 11, 640 >> 8, 640 & 0xFF});
    struct Case {
        const char* name;
        std::vector<std::pair<double, Bytes>> arrivals;
        ExchangeResult result;
        double endsAt;  // when the wait is over
    };
    const double quiet = QuietTime(9600);
    const Case cases[] = {
        {"the whole echo, then quiet", {{0.020, echo}}, ExchangeResult::Valid, 0.020 + quiet},
        {"the echo in two pieces", {{0.020, Bytes(echo.begin(), echo.begin() + 3)}, {0.030, Bytes(echo.begin() + 3, echo.end())}},
         ExchangeResult::Valid, 0.030 + quiet},
        {"an exception reply", {{0.015, withCrc({1, 0x86, 2})}}, ExchangeResult::Exception, 0.015 + quiet},
        {"a byte too many within the quiet time", {{0.020, echo}, {0.021, {0}}}, ExchangeResult::NoResponse, 0.021 + quiet},
        {"nothing", {}, ExchangeResult::NoResponse, 2.0},
        {"a short echo", {{0.020, Bytes(echo.begin(), echo.end() - 1)}}, ExchangeResult::NoResponse, 2.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        com.OpenComConfig(1, "", 9600, 0, 8, 1, 512, -1);  // empties the queue
        const double t0 = clock.now();
        com.peer = [&](int port, const Bytes&) {
            for (const auto& [after, bytes] : c.arrivals)
                com.injectAfter(port, after, bytes);
        };
        // Something else due while the reply is awaited (a click, a timer) runs in its time.
        bool ranMeanwhile = false;
        clock.schedule(t0 + 0.010, [&] { ranMeanwhile = log.empty(); });
        RtuResult r;
        log.clear();
        write(r);
        EXPECT_TRUE(log.empty()) << "the exchange waits on the timer, not in the call";
        clock.advanceTo(t0 + 3.0);
        EXPECT_TRUE(ranMeanwhile);
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(r.outcome.result, c.result);
        // The line is looked at every quarter of the quiet time: a change is seen up to a quarter
        // late, and the quiet after it is counted from then.
        EXPECT_GE(r.waited, c.endsAt - 1e-9);
        EXPECT_LE(r.waited, c.endsAt + quiet / 2 + 1e-6);
    }
}

}  // namespace
