// Decoding the register image of the last poll reply into the windows.
//
// Reply layout: byte 0 slave, 1 function, 2 byte count, then registers 1 to 78 two bytes
// each, high byte first (register n at offsets 2n+1 and 2n+2), then the CRC. A float
// spans registers n and n+1 with the LOW 16 bits in register n.
#include <cstring>

#include "panel_ids.h"
#include "register_map.h"
#include "vek_app.h"

namespace vek {

int MB_memory(const App& app, int n)
{
    const std::uint8_t* rx = app.link.ucRxBuffer;
    return rx[2 * n + 1] * 256 + rx[2 * n + 2];
}

float RegisterFloat(const App& app, int n)
{
    const std::uint32_t bits =
        static_cast<std::uint32_t>(MB_memory(app, n + 1)) << 16 | static_cast<std::uint32_t>(MB_memory(app, n));
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

void Read_Variables(App& app)
{
    Measurements& m = app.st.m;
    m.distanceMm = MB_memory(app, reg::kDistanceMm);
    m.levelMm = MB_memory(app, reg::kLevelMm);
    m.levelPercent = RegisterFloat(app, reg::kLevelPercent);
    m.measureStatus = MB_memory(app, reg::kMeasureStatus);
    m.blindDistance = MB_memory(app, reg::kBlindDistance);
    m.distance4mA = MB_memory(app, reg::kDistance4mA);
    m.distance20mA = MB_memory(app, reg::kDistance20mA);
    m.deviceUid = MB_memory(app, reg::kUid);
    m.relay1State = MB_memory(app, reg::kRelay1State);
    m.relay2State = MB_memory(app, reg::kRelay2State);
    m.temperature = RegisterFloat(app, reg::kTemperature);
    m.outputMa = RegisterFloat(app, reg::kOutputMa);
    m.frequency = RegisterFloat(app, reg::kFrequency);
    m.sensorType = MB_memory(app, reg::kSensorType);
    m.relay1Text = m.relay1State == 1 ? "ON" : "OFF";
    m.relay2Text = m.relay2State == 1 ? "ON" : "OFF";

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

    // A transmitter without relays marks the low byte of register 71 with 255. The lamps
    // follow the latest reply both ways, so another transmitter with relays shows them again.
    const int absent = (MB_memory(app, reg::kRl2ThVal) & 0xFF) == 255 ? 1 : 0;
    for (int ctrl : {PANEL_TEXTMSG_4, PANEL_RL1_LED, PANEL_RL2_LED})
        ui.SetCtrlAttribute(p, ctrl, ATTR_DIMMED, absent);
}

void Read_ProbeErrors(App& app)
{
    AppState& st = app.st;
    for (int i = 0; i < 4; ++i)
        st.probeStatus[i] = MB_memory(app, reg::kProbeWarnings + i);
    enum { TEMP, NO_ECHO, GAIN, DIST, ECHO_BLIND };
    for (int i = 0; i < 4; ++i)
        if (st.probeStatus[i] == 1)
            st.probeFlags[i] = 1;
    // No echo together with a distance warning means the echo sits in the blind distance.
    if (st.probeStatus[1] == 1 && st.probeStatus[3] == 1) {
        st.probeFlags[ECHO_BLIND] = 1;
        st.probeFlags[NO_ECHO] = 0;
        st.probeFlags[DIST] = 0;
    }
    static const char* const fragments[5] = {"-TEMP-", "-NO_ECHO-", "-GAIN-", "-DIST-", "-ECHO BLIND DIST-"};
    std::string text;
    for (int i = 0; i < 5; ++i) {
        if (st.probeFlags[i]) {
            text += fragments[i];
            st.probeFlags[i] = 0;
        }
    }
    app.io.panels.SetCtrlVal(st.panelMain, PANEL_ERROR_MSG_LED, text.find('-') != std::string::npos ? 1 : 0);
    app.io.panels.SetCtrlVal(st.panelMain, PANEL_ERROR_MSG, text);
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
