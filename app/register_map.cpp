#include "register_map.h"

#include <array>

#include "panel_ids.h"

namespace vek {

namespace {

using enum RegType;
using enum WriteBy;

constexpr std::array kMap = {
    // Main window: measurements (decoded into the measurements record) and four set-ups.
    RegisterEntry{reg::kDistanceMm, PANEL, PANEL_DISTANCE_MM, Word, Never, "Distance", "mm"},
    RegisterEntry{reg::kLevelMm, PANEL, PANEL_LEVEL_MM, Word, Never, "Level", "mm"},
    RegisterEntry{reg::kLevelPercent, PANEL, PANEL_LEVEL_PERC, Float, Never, "Level", "%"},
    RegisterEntry{reg::kTemperature, PANEL, PANEL_TEMPERATURE, Float, Never, "Temp.", "°C"},
    RegisterEntry{reg::kOutputMa, PANEL, PANEL_OUTPUT_MA, Float, Never, "Output", "mA"},
    RegisterEntry{reg::kFrequency, PANEL, PANEL_FREQUENCY, Float, Never, "Frequency", "Hz"},
    RegisterEntry{reg::kMeasureStatus, PANEL, PANEL_MEASURE_STATUS, Word, Never, "Measure Status", ""},
    RegisterEntry{reg::kRelay1State, PANEL, PANEL_RL1_LED, Word, Never, "RL1", ""},
    RegisterEntry{reg::kRelay2State, PANEL, PANEL_RL2_LED, Word, Never, "RL2", ""},
    RegisterEntry{reg::kSensorType, PANEL, PANEL_SENSOR, ModelCode, Never, "Type", ""},
    RegisterEntry{reg::kUid, PANEL, PANEL_UID, Word, NumberDialog, "UID", "", 1, 247},  // a Modbus slave address
    RegisterEntry{reg::kBlindDistance, PANEL, PANEL_BLIND_DISTANCE, Word, NumberDialog, "Blind Dist. [mm]", "mm"},
    RegisterEntry{reg::kDistance20mA, PANEL, PANEL_DISTANCE_20MA, Word, NumberDialog, "Dist. Full [mm]", "mm"},
    RegisterEntry{reg::kDistance4mA, PANEL, PANEL_DISTANCE_4MA, Word, NumberDialog, "Dist. Empty [mm]", "mm"},

    // User set-up window.
    RegisterEntry{reg::kMaxGainTh, PANEL_4, PANEL_4_MAXGAIN_TH, Word, NumberDialog, "Max Gain TH", ""},
    RegisterEntry{reg::kFrozenGain, PANEL_4, PANEL_4_FROZENGAIN, Word, NumberDialog, "Frozen Gain", ""},
    RegisterEntry{reg::kFilterCoeff, PANEL_4, PANEL_4_FILTER_COEFF, Word, NumberDialog, "Filter Coefficent", ""},
    RegisterEntry{reg::kMedium, PANEL_4, PANEL_4_MEDIUM, Word, AtOnce, "Medium", ""},
    RegisterEntry{reg::kOutputSafeMode, PANEL_4, PANEL_4_OUTPUT_SAFE_MODE, Word, AtOnce, "Output Safe Mode", ""},
    RegisterEntry{reg::kMbBaudRate, PANEL_4, PANEL_4_MB_BAUD_RATE, Word, AtOnce, "Baud Rate", ""},
    RegisterEntry{reg::kMbParity, PANEL_4, PANEL_4_MB_PARITY, Word, AtOnce, "Parity", ""},
    RegisterEntry{reg::kRl1ThDelay, PANEL_4, PANEL_4_RL1_TH_DELAY, Word, NumberDialog, "RL1 TH Delay", ""},
    RegisterEntry{reg::kRl2ThDelay, PANEL_4, PANEL_4_RL2_TH_DELAY, Word, NumberDialog, "RL2 TH Delay", ""},
    RegisterEntry{reg::kRl1PumpDelay, PANEL_4, PANEL_4_RL1_PUMP_DELAY, Word, NumberDialog, "RL1 Pump Delay", ""},
    RegisterEntry{reg::kRl1ThMinMax, PANEL_4, PANEL_4_RL1_TH_MINMAX, Word, AtOnce, "RL1_TH_MinMax", ""},
    RegisterEntry{reg::kRl1ThSafety, PANEL_4, PANEL_4_RL1_TH_SAFETY, Word, AtOnce, "RL1_TH_Safety", ""},
    RegisterEntry{reg::kRl1ThEnable, PANEL_4, PANEL_4_RL1_TH_ENABLE, Word, AtOnce, "RL1_TH_Enable", ""},
    RegisterEntry{reg::kRl2ThMinMax, PANEL_4, PANEL_4_RL2_TH_MINMAX, Word, AtOnce, "RL2_TH_MinMax", ""},
    RegisterEntry{reg::kRl2ThSafety, PANEL_4, PANEL_4_RL2_TH_SAFETY, Word, AtOnce, "RL2_TH_Safety", ""},
    RegisterEntry{reg::kRl2ThEnable, PANEL_4, PANEL_4_RL2_TH_ENABLE, Word, AtOnce, "RL2_TH_Enable", ""},
    RegisterEntry{reg::kRl1PumpFillEmpty, PANEL_4, PANEL_4_RL1_PUMP_FILLEMPTY, Word, AtOnce, "RL1 Pump Fill/Empty", ""},
    RegisterEntry{reg::kRl1PumpEnable, PANEL_4, PANEL_4_RL1_PUMP_ENABLE, Word, AtOnce, "RL1 Pump Enable", ""},
    RegisterEntry{reg::kRl2DiagEnable, PANEL_4, PANEL_4_RL2_DIAG_ENABLE, Word, AtOnce, "RL2 Diagn. Enable", ""},
    RegisterEntry{reg::kWidth, PANEL_4, PANEL_4_WIDTH, Word, NumberDialog, "F_Window", ""},
    RegisterEntry{reg::kRl1ThVal, PANEL_4, PANEL_4_RL1_TH_VAL, Word, NumberDialog, "RL1 TH Value", "mm"},
    RegisterEntry{reg::kRl2ThVal, PANEL_4, PANEL_4_RL2_TH_VAL, Word, NumberDialog, "RL2 TH Value", "mm"},
    RegisterEntry{reg::kRl1PumpUpper, PANEL_4, PANEL_4_RL1_PUMP_UPPER, Word, NumberDialog, "RL1 Pump Upper", "mm"},
    RegisterEntry{reg::kRl1PumpLower, PANEL_4, PANEL_4_RL1_PUMP_LOWER, Word, NumberDialog, "RL1 Pump Lower", "mm"},

    // Advanced set-up window.
    RegisterEntry{reg::kDac4mA, PANEL_3, PANEL_3_DAC_4MA, Word, NumberDialog, "Dac 4mA", ""},
    RegisterEntry{reg::kDac20mA, PANEL_3, PANEL_3_DAC_20MA, Word, NumberDialog, "Dac 20mA", ""},
    RegisterEntry{reg::kZValue, PANEL_3, PANEL_3_Z_VALUE, Word, NumberDialog, "Z Value [mm]", "mm"},
    RegisterEntry{reg::kEmissionTime, PANEL_3, PANEL_3_EMISSION_TIME, Word, NumberDialog, "Emission Time [usec]", "us"},
    RegisterEntry{reg::kCyclesNum, PANEL_3, PANEL_3_CYCLES_NUM, Word, NumberDialog, "Cycles Number", ""},
    RegisterEntry{reg::kMinDelta, PANEL_3, PANEL_3_MINDELTA, Word, NumberDialog, "MinDelta", ""},
    RegisterEntry{reg::kEpot20C, PANEL_3, PANEL_3_EPOT_20C, Word, NumberDialog, "Epot_20C", ""},
    RegisterEntry{reg::kFreqSetting, PANEL_3, PANEL_3_FREQUENCY, Word, NumberDialog, "Freq Setting", ""},
    RegisterEntry{reg::kTempSetting, PANEL_3, PANEL_3_TEMPERATURE, Word, NumberDialog, "Temp Setting", ""},
    // Probe constants: shown, never written.
    RegisterEntry{reg::kV0, PANEL_3, PANEL_3_V0, Float, Never, "V0", "mm/us"},
    RegisterEntry{reg::kAlpha, PANEL_3, PANEL_3_ALPHA, Float, Never, "Alpha", "1/°C"},
    // One printable ASCII character (32 to 126), or 0 for none.
    RegisterEntry{reg::kConfigIndex1 + 0, PANEL_3, PANEL_3_CONFIG_INDEX_1, Character, CharacterDialog,
                  "Config index 1 of 8", "", 0, 126},
    RegisterEntry{reg::kConfigIndex1 + 1, PANEL_3, PANEL_3_CONFIG_INDEX_2, Character, CharacterDialog,
                  "Config index 2 of 8", "", 0, 126},
    RegisterEntry{reg::kConfigIndex1 + 2, PANEL_3, PANEL_3_CONFIG_INDEX_3, Character, CharacterDialog,
                  "Config index 3 of 8", "", 0, 126},
    RegisterEntry{reg::kConfigIndex1 + 3, PANEL_3, PANEL_3_CONFIG_INDEX_4, Character, CharacterDialog,
                  "Config index 4 of 8", "", 0, 126},
    RegisterEntry{reg::kConfigIndex1 + 4, PANEL_3, PANEL_3_CONFIG_INDEX_5, Character, CharacterDialog,
                  "Config index 5 of 8", "", 0, 126},
    RegisterEntry{reg::kConfigIndex1 + 5, PANEL_3, PANEL_3_CONFIG_INDEX_6, Character, CharacterDialog,
                  "Config index 6 of 8", "", 0, 126},
    RegisterEntry{reg::kConfigIndex1 + 6, PANEL_3, PANEL_3_CONFIG_INDEX_7, Character, CharacterDialog,
                  "Config index 7 of 8", "", 0, 126},
    RegisterEntry{reg::kConfigIndex1 + 7, PANEL_3, PANEL_3_CONFIG_INDEX_8, Character, CharacterDialog,
                  "Config index 8 of 8", "", 0, 126},
};

}  // namespace

std::span<const RegisterEntry> RegisterMap() { return kMap; }

const RegisterEntry* FindRegister(int panelId, int ctrl)
{
    for (const RegisterEntry& e : kMap)
        if (e.panelId == panelId && e.ctrl == ctrl)
            return &e;
    return nullptr;
}

}  // namespace vek
