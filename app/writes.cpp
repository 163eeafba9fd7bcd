// Configuration writes: one holding register per Write Single Register exchange, from the
// write dialog (numbers), the configuration-index dialog (one character) or at once from
// the rings and switches of the user set-up window.
#include "mb_rtu_master.h"
#include "panel_ids.h"
#include "register_map.h"
#include "vek_app.h"

namespace vek {

namespace {

constexpr double kWriteReplyLimit = 2.0;

// The map's entry for `ctrl` of window `panelId` when the user writes it the way `how` says,
// else nullptr.
const RegisterEntry* writableBy(int panelId, int ctrl, WriteBy how)
{
    const RegisterEntry* e = FindRegister(panelId, ctrl);
    return e && e->write == how ? e : nullptr;
}

int panelIdOf(const App& app, int handle)
{
    const ui::Panel* p = app.io.panels.panel(handle);
    return p ? p->id : 0;
}

// One write dialog at a time: the one already shown is brought to the front and retargeted;
// a dialog of the other kind (or the hidden copy from start-up) goes first.
int showWriteDialog(App& app, int dialogId)
{
    auto& ui = app.io.panels;
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

std::string targetText(const RegisterEntry& t)
{
    return std::string(t.name) + " (register " + std::to_string(t.reg) + ")";
}

std::string rangeText(int min, int max) { return std::to_string(min) + " to " + std::to_string(max); }

void openValueDialog(App& app, int sourcePanel, const RegisterEntry* t)
{
    auto& ui = app.io.panels;
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

}  // namespace

bool LinkPortReady(App& app)
{
    LinkState& l = app.link;
    if (app.scan.running()) {
        // A write between two probes would meet the port at the scan's line setting, and
        // its echo could pass for a probe's reply. A notice, not a box that waits: the line
        // is held here, and nothing may wait on the user while it is.
        app.io.NoticePopup("Warning",
                            "Find Transmitter is scanning the port. Nothing was sent: wait until the "
                            "scan ends, or cancel it.");
        return false;
    }
    const bool configured = l.ucMBFlag != 0 || RecallChangedSerialSettings(app);
    if (configured && l.usPortNumber != 0)
        return true;
    // Without a port nothing goes out and nothing is counted, as for a poll.
    SetCommErrorText(l, kMsgNoPort);
    ShowLinkState(app, true, l.commErrorText);
    return false;
}

// The write transaction shared by every configuration write: one Write Single Register
// request for register `reg` (counted from 1) carrying `value`, by the holder of the line's
// lease. Each caller names its own register, so no write can pick up another's target.
Async<ExchangeOutcome> WriteRegister(App& app, int reg, std::uint16_t value)
{
    if (!LinkPortReady(app))
        co_return ExchangeResult::NoResponse;
    // Reopening first, as before a poll, discards anything stale so it cannot pass for the echo.
    const std::string openError = OpenLinkPort(app);
    app.st.registerValue = value;
    // The echo ends the wait as soon as it is whole and the line has gone quiet; 2 s at most.
    const RtuResult r = co_await ExchangeWithSlave(
        app,
        [&app, reg, value](LinkState& l, MasterIo& io, int port) {
            return StartWriteSingleRegister(l, io, port, static_cast<std::uint8_t>(l.slaveAddress), reg, value,
                                            ReplyWaitOf(app, kWriteReplyLimit));
        },
        openError);
    co_return r.outcome;
}

namespace {

// A write the user asked for, in its turn: the control keeps the user's choice until then,
// whatever a readback meanwhile says.
Job writeChoice(App& app, int panel, int control, int reg, std::uint16_t value)
{
    app.io.panels.HoldUserValue(panel, control);
    struct Unhold {
        App& app;
        int panel, control;
        ~Unhold() { app.io.panels.ReleaseUserValue(panel, control); }
    } unhold{app, panel, control};
    auto lease = co_await app.engine.Acquire();
    if (lease)
        co_await WriteRegister(app, reg, value);
}

// A write from a dialog, in its turn; the transmitter then answers at a new address when it
// was its address that was written: the user may follow it there.
Job writeFromDialog(App& app, int reg, std::uint16_t value)
{
    ExchangeOutcome outcome;
    {
        auto lease = co_await app.engine.Acquire();
        if (!lease)
            co_return;
        outcome = co_await WriteRegister(app, reg, value);
    }
    // Only a write that went out and was echoed can have moved the transmitter.
    if (!outcome.valid() || reg != reg::kUid || value == app.link.slaveAddress)
        co_return;
    if (app.io.ConfirmPopup("New slave address", "The transmitter took slave address " + std::to_string(value) +
                                                     ". Poll it at its new address?")) {
        app.link.slaveAddress = value;
        app.io.panels.SetCtrlVal(app.st.panelMain, PANEL_SLAVE_ADDRESS, value);
    }
}

}  // namespace

int Write_Value(App& app, int panel, int control, int event)
{
    const int id = panelIdOf(app, panel);
    if (event == EVENT_LEFT_DOUBLE_CLICK && id == PANEL)
        openValueDialog(app, panel, writableBy(PANEL, control, WriteBy::NumberDialog));
    else if (event == EVENT_COMMIT && id == WRITE_VAL && control == WRITE_VAL_EXIT)
        app.io.panels.DiscardPanel(panel);
    return 0;
}

int Write_Value_1(App& app, int panel, int control, int event)
{
    if (event == EVENT_LEFT_DOUBLE_CLICK && panelIdOf(app, panel) == PANEL_4)
        openValueDialog(app, panel, writableBy(PANEL_4, control, WriteBy::NumberDialog));
    return 0;
}

int Write_Value_2(App& app, int panel, int control, int event)
{
    if (event != EVENT_LEFT_DOUBLE_CLICK || panelIdOf(app, panel) != PANEL_3)
        return 0;
    if (writableBy(PANEL_3, control, WriteBy::Never)) {
        // Probe constants: never written, and no dialog is left behind for them.
        app.io.MessagePopup("Warning", "It's not allowed to change this value !");
        return 0;
    }
    openValueDialog(app, panel, writableBy(PANEL_3, control, WriteBy::NumberDialog));
    return 0;
}

int Write_Value_3(App& app, int panel, int control, int event)
{
    if (event != EVENT_VAL_CHANGED || panelIdOf(app, panel) != PANEL_4)
        return 0;
    const RegisterEntry* t = writableBy(PANEL_4, control, WriteBy::AtOnce);
    if (!t)
        return 0;
    long long v = 0;
    app.io.panels.GetCtrlVal(panel, control, v);
    if (v < 0 || v > 0xFFFF)
        return 0;  // not an item's value: nothing the user chose
    writeChoice(app, panel, control, t->reg, static_cast<std::uint16_t>(v));
    return 0;
}

int Write_Ascii(App& app, int panel, int control, int event)
{
    auto& ui = app.io.panels;
    const int id = panelIdOf(app, panel);
    if (event == EVENT_LEFT_DOUBLE_CLICK && id == PANEL_3) {
        const RegisterEntry* t = writableBy(PANEL_3, control, WriteBy::CharacterDialog);
        if (!t)
            return 0;
        const int h = showWriteDialog(app, WR_ASCII);
        ui.SetActiveCtrl(h, WR_ASCII_STRING);
        app.st.dialogTarget = {panel, t->ctrl, t->reg, t->min, t->max};
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
    auto& ui = app.io.panels;
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
            app.io.MessagePopup("Warning", "The value must be a whole number from " +
                                               rangeText(target.min, target.max) + ". Nothing was written.");
            return 0;
        }
        value = static_cast<std::uint16_t>(v);
    } else if (id == WR_ASCII && control == WR_ASCII_CONF_VAL) {
        std::string text;
        ui.GetCtrlVal(dialog, WR_ASCII_STRING, text);
        // One printable ASCII character, or nothing (which writes 0).
        if (text.size() > 1 || (text.size() == 1 && (text[0] < ' ' || text[0] > '~'))) {
            app.io.MessagePopup("Warning",
                                "Type one character from the keyboard's plain set (letters, digits, punctuation or a "
                                "space), or nothing to clear it. Nothing was written.");
            return 0;
        }
        value = text.empty() ? 0 : static_cast<std::uint16_t>(static_cast<unsigned char>(text[0]));
    } else {
        return 0;
    }
    writeFromDialog(app, reg, value);
    return 0;
}

void CloseDialogsOpenedFrom(App& app, int panel)
{
    auto& ui = app.io.panels;
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
    app.io.panels.GetCtrlVal(panel, PANEL_SLAVE_ADDRESS, v);
    if (v >= 1 && v <= 247)
        app.link.slaveAddress = v;
    else
        app.io.panels.SetCtrlVal(panel, PANEL_SLAVE_ADDRESS, app.link.slaveAddress);
    return 0;
}

}  // namespace vek
