// The transmitter's measurements as one value, decoded from the 78 registers a poll reads.
// Decoding touches no window: showing a reading, logging it and trending it each take the
// value this gives.
#pragma once
#include <array>
#include <cstdint>
#include <string>

#include "register_map.h"

namespace vek {

// Registers 1 to 78 as read: register n is image[n - 1].
using RegisterImage = std::array<std::uint16_t, reg::kPolled>;

struct Measurements {
    int distanceMm = 0;      // register 1
    int levelMm = 0;         // register 2
    float levelPercent = 0;  // registers 3-4
    float temperature = 0;   // registers 5-6
    float outputMa = 0;      // registers 7-8
    float frequency = 0;     // registers 9-10
    int distance4mA = 0;     // register 11
    int distance20mA = 0;    // register 12
    int blindDistance = 0;   // register 15
    int deviceUid = 1;       // register 25
    int measureStatus = 0;   // register 54
    int relay1State = 0;     // register 60
    int relay2State = 0;     // register 61
    std::string relay1Text;  // "ON" when relay1State is 1, else "OFF"
    std::string relay2Text;
    int sensorType = 0;  // register 68
    // The probe warnings (registers 55 to 58, 1 = raised). No echo together with the distance
    // warning means the echo sits inside the blind distance: that shows as its own warning
    // instead of the two.
    bool warnTemperature = false, warnNoEcho = false, warnGain = false, warnDistance = false;
    bool warnEchoInBlindDistance = false;
    std::string warningText;  // "-TEMP-", "-NO_ECHO-", "-GAIN-", "-DIST-", "-ECHO BLIND DIST-" in that order
    // A transmitter without relays marks the low byte of register 71 with 255.
    bool relaysAbsent = false;
};

Measurements DecodeMeasurements(const RegisterImage& image);

// The single-precision value of registers n (low 16 bits) and n + 1 (high 16 bits).
float ImageFloat(const RegisterImage& image, int n);
// The configuration-index text of a register: low byte, then high byte, up to the first 0.
std::string ConfigIndexText(int registerValue);
const char* SensorText(int modelCode);

}  // namespace vek
