#include "register_image.h"

#include <bit>
#include <cstring>

namespace vek::sim {

bool isWritable(int number)
{
    switch (number) {
    case 11:
    case 12:
    case 13:
    case 14:
    case 15:
    case 16:
    case 17:
    case 18:
    case 23:
    case 24:
    case 25:
    case 26:
    case 27:
    case 28:
    case 29:
    case 30:
    case 31:
    case 32:
    case 33:
    case 34:
    case 35:
    case 36:
    case 38:
    case 40:
    case 43:
    case 44:
    case 45:
    case 46:
    case 47:
    case 48:
    case 49:
    case 50:
    case 51:
    case 52:
    case 53:
    case 59:
    case 66:
    case 70:
    case 71:
    case 72:
    case 73:
    case 74:
    case 75:
    case 76:
    case 77: return true;
    default: return false;
    }
}

float RegisterImage::getFloat(int number) const
{
    const std::uint32_t bits =
        static_cast<std::uint32_t>(get(number)) | (static_cast<std::uint32_t>(get(number + 1)) << 16);
    return std::bit_cast<float>(bits);
}

void RegisterImage::setFloat(int number, float value)
{
    const auto bits = std::bit_cast<std::uint32_t>(value);
    set(number, static_cast<std::uint16_t>(bits & 0xFFFFu));
    set(number + 1, static_cast<std::uint16_t>(bits >> 16));
}

void RegisterImage::setConfigIndex(std::string_view text)
{
    for (int i = 0; i < reg::kConfigIndexLength; ++i) {
        const auto c =
            i < static_cast<int>(text.size()) ? static_cast<unsigned char>(text[static_cast<std::size_t>(i)]) : 0u;
        set(reg::kConfigIndex + i, static_cast<std::uint16_t>(c));
    }
}

RegisterImage RegisterImage::defaults()
{
    RegisterImage img;
    // A 5 m gauge on a tank whose bottom is 4.8 m below the sensor face; 20 mA at 0.3 m,
    // just clear of the 0.25 m blind zone.
    img.set(reg::kDistance4mA, 4800);
    img.set(reg::kDistance20mA, 300);
    img.set(reg::kDac4mA, 819);  // 12-bit DAC counts for 4 and 20 mA
    img.set(reg::kDac20mA, 4095);
    img.set(reg::kBlindDistance, 250);
    img.set(reg::kMaxGainTh, 60);
    img.set(reg::kFrozenGain, 0);
    img.set(reg::kZValue, 120);
    img.setFloat(reg::kV0, 0.3313f);      // speed of sound at 0 degrees C, mm/us
    img.setFloat(reg::kAlpha, 0.00183f);  // its relative change per degree C
    img.set(reg::kFilterCoeff, 8);
    img.set(reg::kEpot20C, 512);
    img.set(reg::kUid, 1);
    img.set(reg::kEmissionTime, 200);
    img.set(reg::kCycles, 8);
    img.set(reg::kMinDelta, 10);
    img.setConfigIndex("G5M-A001");
    img.set(reg::kRl1Delay, 2);
    img.set(reg::kRl2Delay, 2);
    img.set(reg::kRl1PumpDelay, 5);
    img.set(reg::kMedium, 4);     // liquid
    img.set(reg::kRl1MinMax, 1);  // relay 1: high-level alarm
    img.set(reg::kRl1Safety, 0);
    img.set(reg::kRl1Enable, 1);
    img.set(reg::kRl2MinMax, 0);  // relay 2: low-level alarm
    img.set(reg::kRl2Safety, 0);
    img.set(reg::kRl2Enable, 1);
    img.set(reg::kRl1PumpMode, 0);
    img.set(reg::kRl1PumpEnable, 0);
    img.set(reg::kRl2DiagEnable, 0);
    img.set(reg::kOutputSafeMode, 8);  // hold last value
    img.set(reg::kWidth, 10);
    img.set(reg::kModel, kDefaultModel);
    img.set(reg::kRl1Threshold, 3800);
    img.set(reg::kRl2Threshold, 800);
    img.set(reg::kPumpUpper, 3500);
    img.set(reg::kPumpLower, 1000);
    img.set(reg::kParity, 0);
    img.set(reg::kBaud, 0);
    img.set(reg::kFrequencySetting, 40000);  // transducer frequency, Hz
    img.set(reg::kTemperatureSetting, 20);
    // Starting measurements, so that an image read before the first update is plausible.
    img.set(reg::kDistance, 2550);
    img.set(reg::kLevelMm, 2250);
    img.setFloat(reg::kLevelPercent, 50.0f);
    img.setFloat(reg::kTemperature, 20.0f);
    img.setFloat(reg::kOutputMa, 12.0f);
    img.setFloat(reg::kFrequency, 40000.0f);
    return img;
}

}  // namespace vek::sim
