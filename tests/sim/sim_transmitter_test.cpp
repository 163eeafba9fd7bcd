// The living transmitter: a consistent set of measurements, relays that follow their
// set-up, warnings on schedule, and repeatability by seed.
#include <gtest/gtest.h>

#include <cmath>

#include "register_image.h"
#include "transmitter.h"

using namespace vek::sim;

namespace {

constexpr Micros kSecond = 1'000'000;

struct Reading {
    int distance, levelMm;
    float percent, temperature, ma, frequency;
};

Reading read(const RegisterImage& img)
{
    return {img.get(1), img.get(2), img.getFloat(3), img.getFloat(5), img.getFloat(7), img.getFloat(9)};
}

}  // namespace

TEST(SimTransmitter, MeasurementsAgreeWithEachOtherAndWithTheCurrentRange)
{
    RegisterImage img = RegisterImage::defaults();
    Transmitter tx(img, 7, true);
    const double d4 = img.get(11), d20 = img.get(12);
    double lowest = 100, highest = 0;
    for (Micros t = 0; t <= 1200 * kSecond; t += 7 * kSecond) {
        tx.update(img, t);
        const Reading r = read(img);
        SCOPED_TRACE(t / kSecond);
        EXPECT_NEAR(r.levelMm, d4 - r.distance, 1.0);
        EXPECT_NEAR(r.percent, 100.0 * r.levelMm / (d4 - d20), 0.05);
        EXPECT_NEAR(r.ma, 4.0 + 16.0 * r.percent / 100.0, 0.001);
        EXPECT_NEAR(r.frequency, img.get(76), img.get(76) * 0.001);
        lowest = std::min<double>(lowest, r.percent);
        highest = std::max<double>(highest, r.percent);
    }
    // Twenty minutes cover two fill and empty cycles, well inside the range.
    EXPECT_LT(lowest, 15.0);
    EXPECT_GT(highest, 85.0);
    EXPECT_GT(lowest, 9.0);
    EXPECT_LT(highest, 91.0);
}

TEST(SimTransmitter, RerangingTheOutputMovesLevelNotDistance)
{
    RegisterImage img = RegisterImage::defaults();
    Transmitter tx(img, 3, true);
    tx.update(img, 30 * kSecond);
    const Reading before = read(img);
    img.set(11, 4000);
    img.set(12, 1000);
    tx.update(img, 30 * kSecond);
    const Reading after = read(img);
    EXPECT_EQ(after.distance, before.distance);
    const double fraction = std::clamp((4000.0 - after.distance) / 3000.0, 0.0, 1.0);
    EXPECT_NEAR(after.percent, 100.0 * fraction, 0.05);
    EXPECT_NEAR(after.ma, 4.0 + 16.0 * fraction, 0.001);
    EXPECT_NEAR(after.levelMm, 3000.0 * fraction, 1.0);
}

TEST(SimTransmitter, SameSeedSameRunDifferentSeedDifferentRun)
{
    auto run = [](std::uint64_t seed) {
        RegisterImage img = RegisterImage::defaults();
        Transmitter tx(img, seed, true);
        std::vector<int> d;
        for (Micros t = 0; t < 60 * kSecond; t += 5 * kSecond) {
            tx.update(img, t);
            d.push_back(img.get(1));
            d.push_back(img.get(6));
        }
        return d;
    };
    EXPECT_EQ(run(11), run(11));
    EXPECT_NE(run(11), run(12));
}

TEST(SimTransmitter, TemperatureDriftsSlowlyAroundTwentyDegrees)
{
    RegisterImage img = RegisterImage::defaults();
    Transmitter tx(img, 5, true);
    float previous = NAN;
    for (Micros t = 0; t < 3600 * kSecond; t += 10 * kSecond) {
        tx.update(img, t);
        const float c = img.getFloat(5);
        EXPECT_GT(c, 16.8f);
        EXPECT_LT(c, 23.2f);
        if (!std::isnan(previous)) {
            EXPECT_LT(std::abs(c - previous), 0.2f) << t / kSecond;
        }
        previous = c;
    }
}

TEST(SimTransmitter, ThresholdRelaysFollowEnableMinMaxAndDelay)
{
    RegisterImage img = RegisterImage::defaults();
    img.set(38, 0);
    img.set(40, 0);
    Transmitter tx(img, 9, true);
    tx.update(img, 0);
    const int level = img.get(2);
    struct Case {
        int enable, minmax, threshold, relayState;
    };
    // Relay 1 on 45-47/70, relay 2 on 48-50/71: min acts below the threshold, max above.
    for (const Case c : {Case{1, 0, level + 300, 1}, Case{1, 0, level - 300, 0}, Case{1, 1, level - 300, 1},
                         Case{1, 1, level + 300, 0}, Case{0, 1, level - 300, 0}, Case{0, 0, level + 300, 0}}) {
        img.set(47, static_cast<std::uint16_t>(c.enable));
        img.set(45, static_cast<std::uint16_t>(c.minmax));
        img.set(70, static_cast<std::uint16_t>(c.threshold));
        img.set(50, static_cast<std::uint16_t>(c.enable));
        img.set(48, static_cast<std::uint16_t>(c.minmax));
        img.set(71, static_cast<std::uint16_t>(c.threshold));
        tx.update(img, 0);
        EXPECT_EQ(img.get(60), c.relayState) << c.enable << c.minmax << " " << c.threshold - level;
        EXPECT_EQ(img.get(61), c.relayState) << c.enable << c.minmax << " " << c.threshold - level;
    }

    // With a 2 s delay a relay follows only a wish that lasts.
    img.set(38, 2);
    img.set(47, 1);
    img.set(45, 1);
    img.set(70, 0);  // max alarm below any level: wants on
    tx.update(img, 10 * kSecond);
    EXPECT_EQ(img.get(60), 0);
    tx.update(img, 11 * kSecond);
    EXPECT_EQ(img.get(60), 0);
    tx.update(img, 12 * kSecond);
    EXPECT_EQ(img.get(60), 1);
}

TEST(SimTransmitter, PumpRelayFillsAndEmptiesWithADeadBand)
{
    RegisterImage img = RegisterImage::defaults();
    img.set(43, 0);
    img.set(52, 1);
    Transmitter tx(img, 4, true);
    tx.update(img, 0);
    const auto level = static_cast<std::uint16_t>(img.get(2));
    auto at = [&](int mode, int lower, int upper) {
        img.set(51, static_cast<std::uint16_t>(mode));
        img.set(73, static_cast<std::uint16_t>(lower));
        img.set(72, static_cast<std::uint16_t>(upper));
        tx.update(img, 0);
        return img.get(60);
    };
    // Filling: on below the lower level, off above the upper, unchanged in between.
    EXPECT_EQ(at(0, level + 100, level + 500), 1);
    EXPECT_EQ(at(0, level - 100, level + 100), 1);
    EXPECT_EQ(at(0, level - 500, level - 100), 0);
    EXPECT_EQ(at(0, level - 100, level + 100), 0);
    // Emptying: the other way round.
    EXPECT_EQ(at(1, level - 500, level - 100), 1);
    EXPECT_EQ(at(1, level - 100, level + 100), 1);
    EXPECT_EQ(at(1, level + 100, level + 500), 0);
}

TEST(SimTransmitter, NoRelaysOnModelsWithoutARelayBoard)
{
    RegisterImage img = RegisterImage::defaults();
    img.set(38, 0);
    img.set(47, 1);
    img.set(45, 1);
    img.set(70, 0);
    Transmitter tx(img, 1, true);
    tx.update(img, 0);
    ASSERT_EQ(img.get(60), 1);
    img.set(68, 0x22);
    tx.update(img, kSecond);
    EXPECT_EQ(img.get(60), 0);
    img.set(68, 17);
    img.set(71, 0x01FF);
    tx.update(img, 2 * kSecond);
    EXPECT_EQ(img.get(60), 0);
}

TEST(SimTransmitter, ScheduledWarningsComeAndGo)
{
    std::string err;
    const auto schedule = WarningSchedule::parse("temp,blind@10-20,gain@15-", &err);
    ASSERT_TRUE(schedule) << err;
    RegisterImage img = RegisterImage::defaults();
    Transmitter tx(img, 1, true);
    tx.setWarnings(*schedule);
    struct Case {
        int second;
        int w55, w56, w57, w58;
    };
    for (const Case c : {Case{0, 1, 0, 0, 0}, Case{10, 1, 1, 0, 1}, Case{15, 1, 1, 1, 1}, Case{19, 1, 1, 1, 1},
                         Case{20, 1, 0, 1, 0}, Case{5000, 1, 0, 1, 0}}) {
        tx.update(img, c.second * kSecond);
        EXPECT_EQ(img.get(55), c.w55) << c.second;
        EXPECT_EQ(img.get(56), c.w56) << c.second;
        EXPECT_EQ(img.get(57), c.w57) << c.second;
        EXPECT_EQ(img.get(58), c.w58) << c.second;
    }
}

TEST(SimTransmitter, WithoutAnEchoTheOutputGoesToItsSafeMode)
{
    std::string err;
    const auto schedule = WarningSchedule::parse("noecho@100-", &err);
    ASSERT_TRUE(schedule);
    struct Case {
        std::uint16_t mode;
        float ma;
    };
    for (const Case c : {Case{6, 3.85f}, Case{4, 21.5f}, Case{8, NAN}}) {
        RegisterImage img = RegisterImage::defaults();
        img.set(59, c.mode);
        img.set(53, 1);  // relay 2 as diagnostic relay
        Transmitter tx(img, 2, true);
        tx.setWarnings(*schedule);
        tx.update(img, 99 * kSecond);
        const Reading before = read(img);
        EXPECT_EQ(img.get(54), 0);
        EXPECT_EQ(img.get(61), 0);
        tx.update(img, 250 * kSecond);  // the tank has moved on meanwhile
        const Reading held = read(img);
        EXPECT_EQ(held.distance, before.distance) << "distance held without an echo";
        EXPECT_EQ(img.get(54), 1);
        EXPECT_EQ(img.get(61), 1) << "the diagnostic relay reports the warning";
        if (std::isnan(c.ma)) {
            EXPECT_EQ(held.ma, before.ma) << "hold last value";
        } else {
            EXPECT_FLOAT_EQ(held.ma, c.ma) << c.mode;
        }
    }
}

TEST(SimTransmitter, StaticModeLeavesTheImageAloneButStillRaisesWarnings)
{
    RegisterImage img = RegisterImage::defaults();
    img.set(1, 1234);
    img.setFloat(3, 42.5f);
    const RegisterImage original = img;
    Transmitter tx(img, 1, false);
    tx.update(img, 100 * kSecond);
    for (int n = 1; n <= kRegisterCount; ++n)
        EXPECT_EQ(img.get(n), original.get(n)) << n;
    std::string err;
    tx.setWarnings(*WarningSchedule::parse("dist", &err));
    tx.update(img, 200 * kSecond);
    EXPECT_EQ(img.get(58), 1);
    EXPECT_EQ(img.get(1), 1234);
}
