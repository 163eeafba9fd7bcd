// The transmitter's 78 holding registers, numbered from 1 as the master numbers them:
// register n is at wire address n-1.
#pragma once
#include <array>
#include <cstdint>
#include <string_view>

namespace vek::sim {

constexpr int kRegisterCount = 78;

// Register numbers the simulator gives a meaning to. Floats occupy n and n+1.
namespace reg {
constexpr int kDistance = 1;       // mm
constexpr int kLevelMm = 2;        // mm
constexpr int kLevelPercent = 3;   // float
constexpr int kTemperature = 5;    // float, degrees Celsius
constexpr int kOutputMa = 7;       // float, mA
constexpr int kFrequency = 9;      // float, Hz
constexpr int kDistance4mA = 11;   // mm
constexpr int kDistance20mA = 12;  // mm
constexpr int kDac4mA = 13;
constexpr int kDac20mA = 14;
constexpr int kBlindDistance = 15;  // mm
constexpr int kMaxGainTh = 16;
constexpr int kFrozenGain = 17;
constexpr int kZValue = 18;
constexpr int kV0 = 19;     // float, mm per microsecond
constexpr int kAlpha = 21;  // float, per degree Celsius
constexpr int kFilterCoeff = 23;
constexpr int kEpot20C = 24;
constexpr int kUid = 25;  // the transmitter's own slave address
constexpr int kEmissionTime = 26;
constexpr int kCycles = 27;
constexpr int kMinDelta = 28;
constexpr int kConfigIndex = 29;  // 29..36, one character each in the low byte
constexpr int kConfigIndexLength = 8;
constexpr int kRl1Delay = 38;      // s
constexpr int kRl2Delay = 40;      // s
constexpr int kRl1PumpDelay = 43;  // s
constexpr int kMedium = 44;
constexpr int kRl1MinMax = 45;  // 0 min (acts below), 1 max (acts above)
constexpr int kRl1Safety = 46;  // 1 yes
constexpr int kRl1Enable = 47;  // 1 enabled
constexpr int kRl2MinMax = 48;
constexpr int kRl2Safety = 49;
constexpr int kRl2Enable = 50;
constexpr int kRl1PumpMode = 51;  // 0 filling, 1 emptying
constexpr int kRl1PumpEnable = 52;
constexpr int kRl2DiagEnable = 53;
constexpr int kMeasureStatus = 54;
constexpr int kWarnTemp = 55;
constexpr int kWarnNoEcho = 56;
constexpr int kWarnGain = 57;
constexpr int kWarnDistance = 58;
constexpr int kOutputSafeMode = 59;  // 8 hold last value, 6 = 3.85 mA, 4 = 21.5 mA
constexpr int kRelay1State = 60;
constexpr int kRelay2State = 61;
constexpr int kWidth = 66;
constexpr int kModel = 68;
constexpr int kRl1Threshold = 70;  // mm of level
constexpr int kRl2Threshold = 71;  // mm of level; low byte 255 marks relays absent
constexpr int kPumpUpper = 72;     // mm of level
constexpr int kPumpLower = 73;     // mm of level
constexpr int kParity = 74;
constexpr int kBaud = 75;
constexpr int kFrequencySetting = 76;
constexpr int kTemperatureSetting = 77;
}  // namespace reg

constexpr std::uint16_t kDefaultModel = 17;  // the 5 m gauge

// True for the registers a master may write with function 6 or 16: the set-up registers.
// Measurements, V0 and alpha, status, warnings, relay states, the model code and the
// unused registers are read-only.
bool isWritable(int number);

class RegisterImage {
public:
    RegisterImage() { regs_.fill(0); }

    // The image of a 5 m gauge as it leaves the factory; measurements are filled in by the
    // living transmitter.
    static RegisterImage defaults();

    static bool valid(int number) { return number >= 1 && number <= kRegisterCount; }

    std::uint16_t get(int number) const { return regs_.at(static_cast<std::size_t>(number - 1)); }
    void set(int number, std::uint16_t value) { regs_.at(static_cast<std::size_t>(number - 1)) = value; }

    // IEEE-754 single in registers n (bits 0-15) and n+1 (bits 16-31): low word first.
    float getFloat(int number) const;
    void setFloat(int number, float value);

    // Eight characters, one per register in the low byte; shorter text is padded with 0.
    void setConfigIndex(std::string_view text);

private:
    std::array<std::uint16_t, kRegisterCount> regs_{};
};

}  // namespace vek::sim
