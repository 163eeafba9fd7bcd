#include "transmitter.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <numbers>

#include "rng.h"
#include "text.h"

namespace vek::sim {

namespace {

constexpr double kFillPeriodS = 600.0;   // one fill and empty cycle of the tank
constexpr double kTempPeriodS = 3600.0;  // the day in the tank room, sped up
constexpr double kTempSwingC = 3.0;
constexpr double kLevelNoiseMm = 2.0;
constexpr double kMaUnderrange = 3.85;
constexpr double kMaOverrange = 21.5;

std::optional<double> number(std::string_view s)
{
    double v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || ec != std::errc{} || end != s.data() + s.size() || v < 0)
        return std::nullopt;
    return v;
}

std::uint16_t clampU16(double v) { return static_cast<std::uint16_t>(std::clamp(std::lround(v), 0L, 65535L)); }

}  // namespace

std::optional<WarningSchedule> WarningSchedule::parse(std::string_view text, std::string* error)
{
    WarningSchedule s;
    auto fail = [&](const std::string& what) {
        if (error)
            *error = what;
        return std::nullopt;
    };
    if (text.empty())
        return fail("empty warning list");
    std::size_t pos = 0;
    while (pos <= text.size()) {
        const auto comma = text.find(',', pos);
        const auto item = text.substr(pos, comma == std::string_view::npos ? std::string_view::npos : comma - pos);
        pos = comma == std::string_view::npos ? text.size() + 1 : comma + 1;
        const auto at = item.find('@');
        const auto name = item.substr(0, at);
        unsigned mask = 0;
        if (name == "temp")
            mask = warn::kTemp;
        else if (name == "noecho")
            mask = warn::kNoEcho;
        else if (name == "gain")
            mask = warn::kGain;
        else if (name == "dist")
            mask = warn::kDistance;
        else if (name == "blind")
            mask = warn::kNoEcho | warn::kDistance;
        else
            return fail(cat("unknown warning '", name, "' (temp, noecho, gain, dist, blind)"));
        double from = 0;
        std::optional<double> to;
        if (at != std::string_view::npos) {
            const auto when = item.substr(at + 1);
            const auto dash = when.find('-');
            if (dash == std::string_view::npos)
                return fail(cat("'", item, "': write NAME@FROM-TO or NAME@FROM- in seconds"));
            const auto a = number(when.substr(0, dash));
            const auto btext = when.substr(dash + 1);
            if (!a)
                return fail(cat("'", item, "': bad start time"));
            from = *a;
            if (!btext.empty()) {
                to = number(btext);
                if (!to || *to <= from)
                    return fail(cat("'", item, "': the end must be a time after the start"));
            }
        }
        s.add(mask, from, to);
    }
    return s;
}

unsigned WarningSchedule::activeAt(double t) const
{
    unsigned mask = 0;
    for (const auto& w : windows_) {
        if (t >= w.fromS && (!w.toS || t < *w.toS))
            mask |= w.mask;
    }
    return mask;
}

Transmitter::Transmitter(const RegisterImage& initial, std::uint64_t seed, bool living) : seed_(seed), living_(living)
{
    const double d4 = initial.get(reg::kDistance4mA);
    const double d20 = initial.get(reg::kDistance20mA);
    bottomMm_ = std::max(d4, d20);
    spanMm_ = std::max(1.0, std::abs(d4 - d20));
    Rng rng(seed);
    phase_ = rng.uniform() * 2.0 * std::numbers::pi;
    tempPhase_ = rng.uniform() * 2.0 * std::numbers::pi;
    relay1_.on = initial.get(reg::kRelay1State) == 1;
    relay2_.on = initial.get(reg::kRelay2State) == 1;
}

double Transmitter::physicalLevelMm(Micros now) const
{
    const double t = static_cast<double>(now) / 1e6;
    // Between 10 % and 90 % of the span, so a default tank never reaches either alarm extreme
    // of the output; the noise changes twice a second like a real echo's jitter.
    const double fraction = 0.5 + 0.4 * std::sin(2.0 * std::numbers::pi * t / kFillPeriodS + phase_);
    const double jitter = kLevelNoiseMm * hashNoise(seed_, 1, static_cast<std::int64_t>(std::floor(t * 2.0)));
    return fraction * spanMm_ + jitter;
}

double Transmitter::physicalTemperature(Micros now) const
{
    const double t = static_cast<double>(now) / 1e6;
    return 20.0 + kTempSwingC * std::sin(2.0 * std::numbers::pi * t / kTempPeriodS + tempPhase_) +
           0.05 * hashNoise(seed_, 2, static_cast<std::int64_t>(std::floor(t)));
}

void Transmitter::update(RegisterImage& image, Micros now)
{
    const double t = static_cast<double>(now) / 1e6;
    const unsigned scheduled = schedule_.activeAt(t);
    if (!schedule_.empty()) {
        image.set(reg::kWarnTemp, (scheduled & warn::kTemp) ? 1 : 0);
        image.set(reg::kWarnNoEcho, (scheduled & warn::kNoEcho) ? 1 : 0);
        image.set(reg::kWarnGain, (scheduled & warn::kGain) ? 1 : 0);
        image.set(reg::kWarnDistance, (scheduled & warn::kDistance) ? 1 : 0);
    }
    if (!living_)
        return;

    const bool noEcho = image.get(reg::kWarnNoEcho) == 1;
    const bool distWarn = image.get(reg::kWarnDistance) == 1;
    const unsigned warnings = (image.get(reg::kWarnTemp) == 1 ? warn::kTemp : 0u) | (noEcho ? warn::kNoEcho : 0u) |
                              (image.get(reg::kWarnGain) == 1 ? warn::kGain : 0u) | (distWarn ? warn::kDistance : 0u);

    // Without a trustworthy echo the device freezes its last distance rather than inventing one.
    const bool holding = (noEcho || distWarn) && haveHeld_;
    const double distance = holding ? heldDistance_ : bottomMm_ - physicalLevelMm(now);
    if (!holding) {
        heldDistance_ = distance;
        haveHeld_ = true;
    }

    // Everything the output shows follows from the distance and the 4 mA and 20 mA distances
    // as they are now in the image.
    const double d4 = image.get(reg::kDistance4mA);
    const double d20 = image.get(reg::kDistance20mA);
    const double fraction = d4 == d20 ? 0.0 : std::clamp((d4 - distance) / (d4 - d20), 0.0, 1.0);
    const double levelMm = fraction * std::abs(d4 - d20);
    double current = 4.0 + 16.0 * fraction;
    if (noEcho) {
        switch (image.get(reg::kOutputSafeMode)) {
        case 6: current = kMaUnderrange; break;
        case 4: current = kMaOverrange; break;
        default: {  // hold: the last current before the echo was lost
            current = image.getFloat(reg::kOutputMa);
            if (!std::isfinite(current))
                current = 4.0 + 16.0 * fraction;
        }
        }
    }
    image.set(reg::kDistance, clampU16(distance));
    image.set(reg::kLevelMm, clampU16(levelMm));
    image.setFloat(reg::kLevelPercent, static_cast<float>(fraction * 100.0));
    image.setFloat(reg::kTemperature, static_cast<float>(physicalTemperature(now)));
    image.setFloat(reg::kOutputMa, static_cast<float>(current));
    const double setting = image.get(reg::kFrequencySetting);
    image.setFloat(reg::kFrequency,
                   static_cast<float>(setting * (1.0 + 0.0005 * hashNoise(seed_, 3, static_cast<std::int64_t>(t)))));
    image.set(reg::kMeasureStatus, static_cast<std::uint16_t>((noEcho ? 1 : 0) | (distWarn ? 2 : 0)));
    updateRelays(image, now, warnings);
}

void Transmitter::drive(Relay& relay, bool want, unsigned delayS, Micros now)
{
    if (want == relay.on) {
        relay.pendingSince.reset();
        return;
    }
    if (!relay.pendingSince)
        relay.pendingSince = now;
    if (now - *relay.pendingSince >= static_cast<Micros>(delayS) * 1'000'000) {
        relay.on = want;
        relay.pendingSince.reset();
    }
}

void Transmitter::updateRelays(RegisterImage& image, Micros now, unsigned warnings)
{
    const int model = image.get(reg::kModel);
    // Models 0x21 to 0x2F have no relay board, and a relay-2 threshold whose low byte is 255
    // is how a board reports itself missing.
    const bool absent = (model >= 0x21 && model <= 0x2F) || (image.get(reg::kRl2Threshold) & 0xFF) == 0xFF;
    if (absent) {
        relay1_ = Relay{};
        relay2_ = Relay{};
        image.set(reg::kRelay1State, 0);
        image.set(reg::kRelay2State, 0);
        return;
    }
    const double level = image.get(reg::kLevelMm);
    const bool noEcho = (warnings & warn::kNoEcho) != 0;
    auto threshold = [&](int enable, int minmax, int value) {
        if (image.get(enable) != 1)
            return false;
        const double th = image.get(value);
        return image.get(minmax) == 0 ? level < th : level > th;
    };

    bool want1 = false;
    unsigned delay1 = image.get(reg::kRl1Delay);
    if (image.get(reg::kRl1PumpEnable) == 1) {
        // A pump relay has a dead band between its two levels where it keeps what it was doing.
        const bool filling = image.get(reg::kRl1PumpMode) == 0;
        const double upper = image.get(reg::kPumpUpper);
        const double lower = image.get(reg::kPumpLower);
        want1 = relay1_.on;
        if (filling) {
            if (level < lower)
                want1 = true;
            else if (level > upper)
                want1 = false;
        } else {
            if (level > upper)
                want1 = true;
            else if (level < lower)
                want1 = false;
        }
        delay1 = image.get(reg::kRl1PumpDelay);
    } else {
        want1 = threshold(reg::kRl1Enable, reg::kRl1MinMax, reg::kRl1Threshold);
    }
    if (noEcho && image.get(reg::kRl1Safety) == 1)
        want1 = false;

    bool want2 = false;
    unsigned delay2 = image.get(reg::kRl2Delay);
    if (image.get(reg::kRl2DiagEnable) == 1) {
        // As a diagnostic relay it reports a warning at once; the delay is for level alarms.
        want2 = warnings != 0;
        delay2 = 0;
    } else {
        want2 = threshold(reg::kRl2Enable, reg::kRl2MinMax, reg::kRl2Threshold);
        if (noEcho && image.get(reg::kRl2Safety) == 1)
            want2 = false;
    }

    drive(relay1_, want1, delay1, now);
    drive(relay2_, want2, delay2, now);
    image.set(reg::kRelay1State, relay1_.on ? 1 : 0);
    image.set(reg::kRelay2State, relay2_.on ? 1 : 0);
}

}  // namespace vek::sim
