// Configuration writes: one holding register per Write Single Register exchange, from the
// write dialog (numbers), the configuration-index dialog (one character) or at once from
// the rings and switches of the user set-up window.
#include "mb_rtu_master.h"
#include "panel_ids.h"
#include "vek_app.h"

namespace vek {

namespace {

// A writable control: where it lives, the register it writes, the name the dialog shows,
// and the values the register accepts.
struct Target {
    int panelId, ctrl, reg;
    const char* name;
    int min = 0, max = 0xFFFF;
};

constexpr Target kDialogTargets[] = {
    {PANEL, PANEL_UID, 25, "UID", 1, 247},  // a Modbus slave address
    {PANEL, PANEL_BLIND_DISTANCE, 15, "Blind Dist. [mm]"},
    {PANEL, PANEL_DISTANCE_20MA, 12, "Dist. Full [mm]"},
    {PANEL, PANEL_DISTANCE_4MA, 11, "Dist. Empty [mm]"},
    {PANEL_4, PANEL_4_RL1_PUMP_DELAY, 43, "RL1 Pump Delay"},
    {PANEL_4, PANEL_4_RL1_PUMP_LOWER, 73, "RL1 Pump Lower"},
    {PANEL_4, PANEL_4_RL1_PUMP_UPPER, 72, "RL1 Pump Upper"},
    {PANEL_4, PANEL_4_RL2_TH_DELAY, 40, "RL2 TH Delay"},
    {PANEL_4, PANEL_4_RL1_TH_DELAY, 38, "RL1 TH Delay"},
    {PANEL_4, PANEL_4_RL2_TH_VAL, 71, "RL2 TH Value"},
    {PANEL_4, PANEL_4_RL1_TH_VAL, 70, "RL1 TH Value"},
    {PANEL_4, PANEL_4_FILTER_COEFF, 23, "Filter Coefficent"},
    {PANEL_4, PANEL_4_FROZENGAIN, 17, "Frozen Gain"},
    {PANEL_4, PANEL_4_MAXGAIN_TH, 16, "Max Gain TH"},
    {PANEL_4, PANEL_4_WIDTH, 66, "F_Window"},
    {PANEL_3, PANEL_3_MINDELTA, 28, "MinDelta"},
    {PANEL_3, PANEL_3_CYCLES_NUM, 27, "Cycles Number"},
    {PANEL_3, PANEL_3_EMISSION_TIME, 26, "Emission Time [usec]"},
    {PANEL_3, PANEL_3_EPOT_20C, 24, "Epot_20C"},
    {PANEL_3, PANEL_3_Z_VALUE, 18, "Z Value [mm]"},
    {PANEL_3, PANEL_3_DAC_20MA, 14, "Dac 20mA"},
    {PANEL_3, PANEL_3_DAC_4MA, 13, "Dac 4mA"},
    {PANEL_3, PANEL_3_FREQUENCY, 76, "Freq Setting"},
    {PANEL_3, PANEL_3_TEMPERATURE, 77, "Temp Setting"},
};

constexpr Target kImmediateTargets[] = {
    {PANEL_4, PANEL_4_MB_PARITY, 74, "Parity"},
    {PANEL_4, PANEL_4_MB_BAUD_RATE, 75, "Baud Rate"},
    {PANEL_4, PANEL_4_OUTPUT_SAFE_MODE, 59, "Output Safe Mode"},
    {PANEL_4, PANEL_4_MEDIUM, 44, "Medium"},
    {PANEL_4, PANEL_4_RL1_TH_MINMAX, 45, "RL1_TH_MinMax"},
    {PANEL_4, PANEL_4_RL1_TH_SAFETY, 46, "RL1_TH_Safety"},
    {PANEL_4, PANEL_4_RL1_TH_ENABLE, 47, "RL1_TH_Enable"},
    {PANEL_4, PANEL_4_RL2_TH_MINMAX, 48, "RL2_TH_MinMax"},
    {PANEL_4, PANEL_4_RL2_TH_SAFETY, 49, "RL2_TH_Safety"},
    {PANEL_4, PANEL_4_RL2_TH_ENABLE, 50, "RL2_TH_Enable"},
    {PANEL_4, PANEL_4_RL1_PUMP_FILLEMPTY, 51, "RL1 Pump Fill/Empty"},
    {PANEL_4, PANEL_4_RL1_PUMP_ENABLE, 52, "RL1 Pump Enable"},
    {PANEL_4, PANEL_4_RL2_DIAG_ENABLE, 53, "RL2 Diagn. Enable"},
};

// Box n of the configuration index writes register 28 + n: one printable ASCII character
// (32 to 126) or 0 for none.
constexpr Target kConfigIndexTargets[] = {
    {PANEL_3, PANEL_3_CONFIG_INDEX_1, 29, "Config index 1 of 8"}, {PANEL_3, PANEL_3_CONFIG_INDEX_2, 30, "Config index 2 of 8"},
    {PANEL_3, PANEL_3_CONFIG_INDEX_3, 31, "Config index 3 of 8"}, {PANEL_3, PANEL_3_CONFIG_INDEX_4, 32, "Config index 4 of 8"},
    {PANEL_3, PANEL_3_CONFIG_INDEX_5, 33, "Config index 5 of 8"}, {PANEL_3, PANEL_3_CONFIG_INDEX_6, 34, "Config index 6 of 8"},
    {PANEL_3, PANEL_3_CONFIG_INDEX_7, 35, "Config index 7 of 8"}, {PANEL_3, PANEL_3_CONFIG_INDEX_8, 36, "Config index 8 of 8"},
};

constexpr int kUidRegister = 25;

template <std::size_t N>
const Target* findTarget(const Target (&table)[N], int panelId, int ctrl)
{
    for (const Target& t : table)
        if (t.panelId == panelId && t.ctrl == ctrl)
            return &t;
    return nullptr;
}

int panelIdOf(const App& app, int handle)
{
    const ui::Panel* p = app.ui.panels.panel(handle);
    return p ? p->id : 0;
}

// One write dialog at a time: the one already shown is brought to the front and retargeted;
// a dialog of the other kind (or the hidden copy from start-up) goes first.
int showWriteDialog(App& app, int dialogId)
{
    auto& ui = app.ui.panels;
    int& h = app.st.panelWriteDialog;
    const ui::Panel* p = ui.panel(h);
    if (!(p && p->visible && p->id == dialogId)) {
        if (p)
            ui.DiscardPanel(h);
        h = ui.LoadPanel(0, kResourceFile, dialogId);
    }
    ui.DisplayPanel(h);
    ui.SetActivePanel(h);
    return h;
}

std::string targetText(const Target& t) { return std::string(t.name) + " (register " + std::to_string(t.reg) + ")"; }

std::string rangeText(int min, int max) { return std::to_string(min) + " to " + std::to_string(max); }

void openValueDialog(App& app, int sourcePanel, const Target* t)
{
    auto& ui = app.ui.panels;
    const int h = showWriteDialog(app, WRITE_VAL);
    if (!t)
        return;  // a control that writes nothing: the dialog opens and keeps its register
    app.st.dialogTarget = {sourcePanel, t->ctrl, t->reg, t->min, t->max};
    // The box takes what the register takes, and says so.
    ui.SetCtrlAttribute(h, WRITE_VAL_WRITE_VALUE, ATTR_MIN_VALUE, static_cast<long long>(t->min));
    ui.SetCtrlAttribute(h, WRITE_VAL_WRITE_VALUE, ATTR_MAX_VALUE, static_cast<long long>(t->max));
    ui.SetCtrlAttribute(h, WRITE_VAL_WRITE_VALUE, ATTR_LABEL_TEXT, targetText(*t) + ", " + rangeText(t->min, t->max));
    long long current = 0;
    if (ui.GetCtrlVal(sourcePanel, t->ctrl, current) == 0 && current >= 0 && current <= 0xFFFF)
        ui.SetCtrlVal(h, WRITE_VAL_WRITE_VALUE, current);
    ui.SetActiveCtrl(h, WRITE_VAL_WRITE_VALUE);
}

// The write transaction shared by every configuration write: one Write Single Register
// request for register `reg` (counted from 1) carrying `value`. Each caller names its own
// register, so no write can pick up another's target.
void writeRegister(App& app, int reg, std::uint16_t value)
{
    LinkState& l = app.link;
    const bool configured = l.ucMBFlag != 0 || RecallChangedSerialSettings(app);
    if (!configured || l.usPortNumber == 0) {
        // Without a port nothing goes out and nothing is counted, as for a poll.
        SetCommErrorText(l, kMsgNoPort);
        app.ui.panels.SetCtrlVal(app.st.panelMain, PANEL_ERROR_COMM_LED, 1);
        app.ui.panels.SetCtrlVal(app.st.panelMain, PANEL_ERROR_COM_MSG, l.commErrorText);
        return;
    }
    // Reopening first, as before a poll, discards anything stale so it cannot pass for the echo.
    OpenComConfig_Vek(l, app.ui, l.usPortNumber, "", l.ulBaudRate, l.usParity, l.usNumBits, l.usStopBit, 512, -1);
    app.st.registerValue = value;
    l.ucFuncCod = 6;
    l.ucFuncCodReceived = 6;
    l.usCoilRegAddress = static_cast<std::uint32_t>(reg);
    l.usWriteValue = value;
    ModBusMasterQuery(l);
    SendDataMaster(l, app.ui, l.usPortNumber);
    app.ui.Delay(0.0);
    ReceiveDataMaster(l, app.ui, l.usPortNumber);
    l.ucFuncCod = 3;
    l.ucFuncCodReceived = 3;
}

}  // namespace

int Write_Value(App& app, int panel, int control, int event)
{
    const int id = panelIdOf(app, panel);
    if (event == EVENT_LEFT_DOUBLE_CLICK && id == PANEL)
        openValueDialog(app, panel, findTarget(kDialogTargets, PANEL, control));
    else if (event == EVENT_COMMIT && id == WRITE_VAL && control == WRITE_VAL_EXIT)
        app.ui.panels.DiscardPanel(panel);
    return 0;
}

int Write_Value_1(App& app, int panel, int control, int event)
{
    if (event == EVENT_LEFT_DOUBLE_CLICK && panelIdOf(app, panel) == PANEL_4)
        openValueDialog(app, panel, findTarget(kDialogTargets, PANEL_4, control));
    return 0;
}

int Write_Value_2(App& app, int panel, int control, int event)
{
    if (event != EVENT_LEFT_DOUBLE_CLICK || panelIdOf(app, panel) != PANEL_3)
        return 0;
    if (control == PANEL_3_ALPHA || control == PANEL_3_V0) {
        // Probe constants: never written, and no dialog is left behind for them.
        app.ui.MessagePopup("Warning", "It's not allowed to change this value !");
        return 0;
    }
    openValueDialog(app, panel, findTarget(kDialogTargets, PANEL_3, control));
    return 0;
}

int Write_Value_3(App& app, int panel, int control, int event)
{
    if (event != EVENT_VAL_CHANGED || panelIdOf(app, panel) != PANEL_4)
        return 0;
    const Target* t = findTarget(kImmediateTargets, PANEL_4, control);
    if (!t)
        return 0;
    long long v = 0;
    app.ui.panels.GetCtrlVal(panel, control, v);
    if (v < 0 || v > 0xFFFF)
        return 0;  // not an item's value: nothing the user chose
    writeRegister(app, t->reg, static_cast<std::uint16_t>(v));
    return 0;
}

int Write_Ascii(App& app, int panel, int control, int event)
{
    auto& ui = app.ui.panels;
    const int id = panelIdOf(app, panel);
    if (event == EVENT_LEFT_DOUBLE_CLICK && id == PANEL_3) {
        const Target* t = findTarget(kConfigIndexTargets, PANEL_3, control);
        if (!t)
            return 0;
        const int h = showWriteDialog(app, WR_ASCII);
        ui.SetActiveCtrl(h, WR_ASCII_STRING);
        app.st.dialogTarget = {panel, t->ctrl, t->reg, 0, 126};
        ui.SetCtrlAttribute(h, WR_ASCII_STRING, ATTR_LABEL_TEXT, targetText(*t));
        std::string current;
        ui.GetCtrlVal(panel, control, current);
        ui.SetCtrlVal(h, WR_ASCII_STRING, current.size() == 1 ? current : std::string());
    } else if (event == EVENT_COMMIT && id == WR_ASCII && control == WR_ASCII_EXIT) {
        ui.DiscardPanel(panel);
    }
    return 0;
}

int Write_Single_Register(App& app, int panel, int control, int event)
{
    if (event != EVENT_COMMIT)
        return 0;
    auto& ui = app.ui.panels;
    const int dialog = app.st.panelWriteDialog;
    const int id = panelIdOf(app, dialog);
    if (panel != dialog)
        return 0;  // a dialog this program no longer tracks
    const AppState::WriteTarget target = app.st.dialogTarget;
    const int reg = target.reg;
    if (reg == 0)
        return 0;  // opened for nothing writable: there is nowhere to write
    const ui::Panel* source = ui.panel(target.panel);
    if (!source || !source->visible) {
        // The window it was opened from has closed (the advanced set-up's password with it).
        ui.DiscardPanel(dialog);
        return 0;
    }
    std::uint16_t value = 0;
    if (id == WRITE_VAL && control == WRITE_VAL_CONF_VAL) {
        long long v = -1;
        ui.GetCtrlVal(dialog, WRITE_VAL_WRITE_VALUE, v);
        // Anything outside what the register takes would reach the device as another number
        // or be refused by it.
        if (v < target.min || v > target.max) {
            app.ui.MessagePopup("Warning", "The value must be a whole number from " + rangeText(target.min, target.max) +
                                               ". Nothing was written.");
            return 0;
        }
        value = static_cast<std::uint16_t>(v);
    } else if (id == WR_ASCII && control == WR_ASCII_CONF_VAL) {
        std::string text;
        ui.GetCtrlVal(dialog, WR_ASCII_STRING, text);
        // One printable ASCII character, or nothing (which writes 0).
        if (text.size() > 1 || (text.size() == 1 && (text[0] < ' ' || text[0] > '~'))) {
            app.ui.MessagePopup("Warning",
                                "Type one character from the keyboard's plain set (letters, digits, punctuation or a "
                                "space), or nothing to clear it. Nothing was written.");
            return 0;
        }
        value = text.empty() ? 0 : static_cast<std::uint16_t>(static_cast<unsigned char>(text[0]));
    } else {
        return 0;
    }
    writeRegister(app, reg, value);
    // The transmitter answers at its new address from now on: offer to follow it there.
    if (reg == kUidRegister && app.link.responseValid == 1 && app.link.commErrorText.empty() &&
        value != app.link.slaveAddress &&
        app.ui.ConfirmPopup("New slave address", "The transmitter took slave address " + std::to_string(value) +
                                                     ". Poll it at its new address?")) {
        app.link.slaveAddress = value;
        ui.SetCtrlVal(app.st.panelMain, PANEL_SLAVE_ADDRESS, value);
    }
    return 0;
}

void CloseDialogsOpenedFrom(App& app, int panel)
{
    auto& ui = app.ui.panels;
    const int dialog = app.st.panelWriteDialog;
    if (app.st.dialogTarget.panel == panel && ui.panel(dialog)) {
        ui.DiscardPanel(dialog);
        app.st.dialogTarget = {};
    }
}

int Slave_Add(App& app, int panel, int control, int event)
{
    if (event != EVENT_VAL_CHANGED || control != PANEL_SLAVE_ADDRESS)
        return 0;
    int v = 0;
    app.ui.panels.GetCtrlVal(panel, PANEL_SLAVE_ADDRESS, v);
    if (v >= 1 && v <= 247)
        app.link.slaveAddress = v;
    else
        app.ui.panels.SetCtrlVal(panel, PANEL_SLAVE_ADDRESS, app.link.slaveAddress);
    return 0;
}

}  // namespace vek
