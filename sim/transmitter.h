// The living transmitter: a tank that fills and empties, a drifting temperature, relays
// that follow their set-up registers, and warnings raised on demand or on a schedule.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "line.h"
#include "register_image.h"

namespace vek::sim {

namespace warn {
constexpr unsigned kTemp = 1;
constexpr unsigned kNoEcho = 2;
constexpr unsigned kGain = 4;
constexpr unsigned kDistance = 8;
}  // namespace warn

// "noecho", "temp,gain", "blind@30-60", "dist@10-": names (temp, noecho, gain, dist, and
// blind for no-echo plus distance together), each always on or on from A to B seconds after
// start (B omitted: for ever).
class WarningSchedule {
public:
    static std::optional<WarningSchedule> parse(std::string_view text, std::string* error);
    void add(unsigned mask, double fromS, std::optional<double> toS) { windows_.push_back({mask, fromS, toS}); }
    bool empty() const { return windows_.empty(); }
    unsigned activeAt(double secondsSinceStart) const;

private:
    struct Window {
        unsigned mask;
        double fromS;
        std::optional<double> toS;
    };
    std::vector<Window> windows_;
};

class Transmitter {
public:
    // The tank is fixed at start: its bottom at the image's 4 mA distance, its top at the
    // 20 mA distance. Later writes of those registers re-range the output, not the tank.
    Transmitter(const RegisterImage& initial, std::uint64_t seed, bool living);

    void setWarnings(WarningSchedule schedule) { schedule_ = std::move(schedule); }

    // Brings the measurement, warning and relay registers up to `now`, measured from the
    // moment the transmitter was switched on. Calls must come with non-decreasing times.
    void update(RegisterImage& image, Micros now);

    // Physical level (mm above the tank bottom) at a moment, before any warning holds it.
    double physicalLevelMm(Micros now) const;
    double physicalTemperature(Micros now) const;

private:
    struct Relay {
        bool on = false;
        std::optional<Micros> pendingSince;  // when the wanted state first differed from `on`
    };
    // Moves a relay towards `want` once the wish has lasted `delayS` seconds.
    static void drive(Relay& relay, bool want, unsigned delayS, Micros now);
    void updateRelays(RegisterImage& image, Micros now, unsigned warnings);

    std::uint64_t seed_;
    bool living_;
    double bottomMm_;
    double spanMm_;
    double phase_;
    double tempPhase_;
    WarningSchedule schedule_;
    // What the output holds while there is no echo to measure.
    double heldDistance_ = 0;
    bool haveHeld_ = false;
    Relay relay1_, relay2_;
};

}  // namespace vek::sim
