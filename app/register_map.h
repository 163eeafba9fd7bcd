// The transmitter's holding registers as this program uses them: one table saying, for each
// register, where it is shown, how it is read and how (if at all) it is written. The
// decoders, the set-up windows' readback and every writer take their registers from here.
//
// Registers are counted from 1, as the transmitter's documentation counts them; the poll
// reads registers 1 to 78 (0-based start address 0, quantity 78). A float spans registers
// n and n + 1 with the low 16 bits in register n.
#pragma once
#include <cstddef>
#include <span>

namespace vek {

namespace reg {
inline constexpr int kDistanceMm = 1;
inline constexpr int kLevelMm = 2;        // signed: below the empty point reads negative
inline constexpr int kLevelPercent = 3;   // float, registers 3-4
inline constexpr int kTemperature = 5;    // float, registers 5-6
inline constexpr int kOutputMa = 7;       // float, registers 7-8
inline constexpr int kFrequency = 9;      // float, registers 9-10
inline constexpr int kDistance4mA = 11;   // "Dist. Empty"
inline constexpr int kDistance20mA = 12;  // "Dist. Full"
inline constexpr int kDac4mA = 13;
inline constexpr int kDac20mA = 14;
inline constexpr int kBlindDistance = 15;
inline constexpr int kMaxGainTh = 16;
inline constexpr int kFrozenGain = 17;
inline constexpr int kZValue = 18;
inline constexpr int kV0 = 19;     // float, registers 19-20; never written
inline constexpr int kAlpha = 21;  // float, registers 21-22; never written
inline constexpr int kFilterCoeff = 23;
inline constexpr int kEpot20C = 24;
inline constexpr int kUid = 25;  // the transmitter's slave address
inline constexpr int kEmissionTime = 26;
inline constexpr int kCyclesNum = 27;
inline constexpr int kMinDelta = 28;
inline constexpr int kConfigIndex1 = 29;  // 29-36: the configuration index, one character each
inline constexpr int kConfigIndexCount = 8;
inline constexpr int kRl1ThDelay = 38;
inline constexpr int kRl2ThDelay = 40;
inline constexpr int kRl1PumpDelay = 43;
inline constexpr int kMedium = 44;
inline constexpr int kRl1ThMinMax = 45;
inline constexpr int kRl1ThSafety = 46;
inline constexpr int kRl1ThEnable = 47;
inline constexpr int kRl2ThMinMax = 48;
inline constexpr int kRl2ThSafety = 49;
inline constexpr int kRl2ThEnable = 50;
inline constexpr int kRl1PumpFillEmpty = 51;
inline constexpr int kRl1PumpEnable = 52;
inline constexpr int kRl2DiagEnable = 53;
inline constexpr int kMeasureStatus = 54;
inline constexpr int kProbeWarnings = 55;  // 55-58: temperature, no echo, gain, distance
inline constexpr int kOutputSafeMode = 59;
inline constexpr int kRelay1State = 60;
inline constexpr int kRelay2State = 61;
inline constexpr int kWidth = 66;
inline constexpr int kSensorType = 68;  // the probe model code
inline constexpr int kRl1ThVal = 70;
inline constexpr int kRl2ThVal = 71;  // low byte 255: a transmitter without relays
inline constexpr int kRl1PumpUpper = 72;
inline constexpr int kRl1PumpLower = 73;
inline constexpr int kMbParity = 74;
inline constexpr int kMbBaudRate = 75;
inline constexpr int kFreqSetting = 76;
inline constexpr int kTempSetting = 77;
inline constexpr int kPolled = 78;  // the poll reads registers 1 to kPolled
}  // namespace reg

// How a register's content is read.
enum class RegType {
    Word,       // 0 to 65535, shown as a number or as the ring item with that value
    Float,      // two registers, low word first
    Character,  // a configuration-index character: low byte, then high byte
    ModelCode,  // a probe model code, shown by its name
};

// How the user writes a register, if at all.
enum class WriteBy {
    Never,            // shown only
    NumberDialog,     // double-click opens the write dialog
    AtOnce,           // choosing a ring item or flipping a switch writes it
    CharacterDialog,  // double-click opens the one-character dialog
};

struct RegisterEntry {
    int reg;      // counted from 1
    int panelId;  // the window it is shown in (resource id)
    int ctrl;     // the control that shows it
    RegType type;
    WriteBy write;
    const char* name;  // as the write dialog names it
    const char* unit;  // "" when it has none
    int min = 0;       // what a write may carry
    int max = 0xFFFF;
};

// Every register a window shows or a writer writes, once.
std::span<const RegisterEntry> RegisterMap();
// The entry shown by `ctrl` of the window with resource id `panelId`, or nullptr.
const RegisterEntry* FindRegister(int panelId, int ctrl);

}  // namespace vek
