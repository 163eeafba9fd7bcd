// Decoding the register image of the latest valid read, and showing it in the windows.
//
// Reply layout: byte 0 slave, 1 function, 2 byte count, then registers 1 to 78 two bytes
// each, high byte first (register n at offsets 2n+1 and 2n+2), then the CRC. A float
// spans registers n and n+1 with the LOW 16 bits in register n.
#include <cstring>
#include <utility>

#include "panel_ids.h"
#include "register_map.h"
#include "vek_app.h"

namespace vek {

int MB_memory(const App& app, int n) { return n >= 1 && n <= reg::kPolled ? app.image[n - 1] : 0; }

float RegisterFloat(const App& app, int n) { return n >= 1 && n < reg::kPolled ? ImageFloat(app.image, n) : 0.0f; }

float ImageFloat(const RegisterImage& image, int n)
{
    const std::uint32_t bits = static_cast<std::uint32_t>(image[n]) << 16 | static_cast<std::uint32_t>(image[n - 1]);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

namespace {
// One byte of the transmitter's text as the windows' UTF-8 (the bytes are Latin-1).
void appendLatin1(std::string& out, unsigned char c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}
}  // namespace

std::string ConfigIndexText(int registerValue)
{
    const unsigned char lo = static_cast<unsigned char>(registerValue & 0xFF);
    const unsigned char hi = static_cast<unsigned char>((registerValue >> 8) & 0xFF);
    std::string text;
    if (lo == 0)
        return text;
    appendLatin1(text, lo);
    if (hi != 0)
        appendLatin1(text, hi);
    return text;
}

const char* SensorText(int modelCode)
{
    switch (modelCode) {
    case 0x11: return "Gauge 5m";
    case 0x12: return "Gauge 8m";
    case 0x13: return "RDA10";
    case 0x14: return "RDA1y";
    case 0x21: return "RDA11";
    case 0x22: return "RDA16";
    case 0x31: return "RDB11";
    case 0x32: return "RDB13";
    case 0x41: return "Flowgauge 5m";
    case 0x42: return "Flowgauge 8m";
    case 0x51: return "RDC1x";
    case 0x52: return "RDC1y";
    default: return "----";
    }
}

Measurements DecodeMeasurements(const RegisterImage& r)
{
    auto word = [&r](int n) { return static_cast<int>(r[n - 1]); };
    Measurements m;
    m.distanceMm = word(reg::kDistanceMm);
    m.levelMm = word(reg::kLevelMm);
    m.levelPercent = ImageFloat(r, reg::kLevelPercent);
    m.measureStatus = word(reg::kMeasureStatus);
    m.blindDistance = word(reg::kBlindDistance);
    m.distance4mA = word(reg::kDistance4mA);
    m.distance20mA = word(reg::kDistance20mA);
    m.deviceUid = word(reg::kUid);
    m.relay1State = word(reg::kRelay1State);
    m.relay2State = word(reg::kRelay2State);
    m.temperature = ImageFloat(r, reg::kTemperature);
    m.outputMa = ImageFloat(r, reg::kOutputMa);
    m.frequency = ImageFloat(r, reg::kFrequency);
    m.sensorType = word(reg::kSensorType);
    m.relay1Text = m.relay1State == 1 ? "ON" : "OFF";
    m.relay2Text = m.relay2State == 1 ? "ON" : "OFF";
    m.relaysAbsent = (word(reg::kRl2ThVal) & 0xFF) == 255;

    // A warning is raised by exactly 1; any other value is none.
    m.warnTemperature = word(reg::kProbeWarnings) == 1;
    m.warnNoEcho = word(reg::kProbeWarnings + 1) == 1;
    m.warnGain = word(reg::kProbeWarnings + 2) == 1;
    m.warnDistance = word(reg::kProbeWarnings + 3) == 1;
    if (m.warnNoEcho && m.warnDistance) {
        m.warnEchoInBlindDistance = true;
        m.warnNoEcho = m.warnDistance = false;
    }
    const std::pair<bool, const char*> parts[] = {{m.warnTemperature, "-TEMP-"},
                                                  {m.warnNoEcho, "-NO_ECHO-"},
                                                  {m.warnGain, "-GAIN-"},
                                                  {m.warnDistance, "-DIST-"},
                                                  {m.warnEchoInBlindDistance, "-ECHO BLIND DIST-"}};
    for (const auto& [raised, text] : parts)
        if (raised)
            m.warningText += text;
    return m;
}

void Read_Variables(App& app)
{
    const Measurements& m = app.st.m = DecodeMeasurements(app.image);
    auto& ui = app.io.panels;
    const int p = app.st.panelMain;
    ui.SetCtrlVal(p, PANEL_SENSOR, SensorText(m.sensorType));
    ui.SetCtrlVal(p, PANEL_DISTANCE_MM, m.distanceMm);
    ui.SetCtrlVal(p, PANEL_LEVEL_MM, m.levelMm);
    ui.SetCtrlVal(p, PANEL_BLIND_DISTANCE, m.blindDistance);
    ui.SetCtrlVal(p, PANEL_DISTANCE_4MA, m.distance4mA);
    ui.SetCtrlVal(p, PANEL_DISTANCE_20MA, m.distance20mA);
    ui.SetCtrlVal(p, PANEL_UID, m.deviceUid);
    ui.SetCtrlVal(p, PANEL_MEASURE_STATUS, m.measureStatus);
    ui.SetCtrlVal(p, PANEL_LEVEL_PERC, static_cast<double>(m.levelPercent));
    ui.SetCtrlVal(p, PANEL_NUMERICTANK, static_cast<double>(m.levelPercent));
    ui.SetCtrlVal(p, PANEL_OUTPUT_MA, static_cast<double>(m.outputMa));
    ui.SetCtrlVal(p, PANEL_FREQUENCY, static_cast<double>(m.frequency));
    ui.SetCtrlVal(p, PANEL_TEMPERATURE, static_cast<double>(m.temperature));
    ui.SetCtrlVal(p, PANEL_RL1_LED, m.relay1State);
    ui.SetCtrlVal(p, PANEL_RL2_LED, m.relay2State);
    ui.SetCtrlVal(p, PANEL_SLAVE_ADDRESS, app.link.slaveAddress);

    // The relay lamps follow the latest reply both ways, so another transmitter with relays
    // shows them again.
    for (int ctrl : {PANEL_TEXTMSG_4, PANEL_RL1_LED, PANEL_RL2_LED})
        ui.SetCtrlAttribute(p, ctrl, ATTR_DIMMED, m.relaysAbsent ? 1 : 0);
}

void Read_ProbeErrors(App& app)
{
    const Measurements& m = app.st.m;
    app.io.panels.SetCtrlVal(app.st.panelMain, PANEL_ERROR_MSG_LED, m.warningText.empty() ? 0 : 1);
    app.io.panels.SetCtrlVal(app.st.panelMain, PANEL_ERROR_MSG, m.warningText);
}

namespace {

// Shows every register the map puts in window `panelId` (a handle `p`) from the last reply.
void showMapped(App& app, int panelId, int p)
{
    auto& ui = app.io.panels;
    for (const RegisterEntry& e : RegisterMap()) {
        if (e.panelId != panelId)
            continue;
        switch (e.type) {
        // Rings and switches are set by value; the window shows a value no item has as unknown.
        case RegType::Word: ui.SetCtrlVal(p, e.ctrl, MB_memory(app, e.reg)); break;
        case RegType::Float: ui.SetCtrlVal(p, e.ctrl, static_cast<double>(RegisterFloat(app, e.reg))); break;
        case RegType::Character: ui.SetCtrlVal(p, e.ctrl, ConfigIndexText(MB_memory(app, e.reg))); break;
        case RegType::ModelCode: ui.SetCtrlVal(p, e.ctrl, SensorText(MB_memory(app, e.reg))); break;
        }
    }
}

constexpr int kRelayControls[] = {
    PANEL_4_TEXTMSG_2,          PANEL_4_TEXTMSG_3,       PANEL_4_TEXTMSG_4,       PANEL_4_RL1_TH_VAL,
    PANEL_4_RL1_TH_DELAY,       PANEL_4_RL1_TH_ENABLE,   PANEL_4_RL1_TH_SAFETY,   PANEL_4_RL1_TH_MINMAX,
    PANEL_4_RL2_TH_VAL,         PANEL_4_RL2_TH_DELAY,    PANEL_4_RL2_TH_ENABLE,   PANEL_4_RL2_TH_SAFETY,
    PANEL_4_RL2_TH_MINMAX,      PANEL_4_RL1_PUMP_UPPER,  PANEL_4_RL1_PUMP_LOWER,  PANEL_4_RL1_PUMP_DELAY,
    PANEL_4_RL1_PUMP_FILLEMPTY, PANEL_4_RL1_PUMP_ENABLE, PANEL_4_RL2_DIAG_ENABLE,
};

}  // namespace

void Read_Variables_2(App& app)
{
    auto& ui = app.io.panels;
    const int p = app.st.panelUser;
    showMapped(app, PANEL_4, p);
    for (int unit :
         {PANEL_4_RL1_TH_UNIT, PANEL_4_RL2_TH_UNIT, PANEL_4_RL1_PUMP_UPPER_UNIT, PANEL_4_RL1_PUMP_LOWER_UNIT})
        ui.SetCtrlAttribute(p, unit, ATTR_LABEL_TEXT, std::string("mm"));
    // Models 0x21 to 0x2F have no relays. The gating follows the latest reply both ways.
    const int t = app.st.m.sensorType;
    const int dim = (t >= 0x21 && t <= 0x2F) ? 1 : 0;
    for (int ctrl : kRelayControls)
        ui.SetCtrlAttribute(p, ctrl, ATTR_DIMMED, dim);
}

void Read_Variables_3(App& app) { showMapped(app, PANEL_3, app.st.panelAdvanced); }

}  // namespace vek
