// The polling cycle: every tick of the main window's timer opens the port, then either
// recovers from a serial error or reads the 78 registers and hands a valid reply to the
// decoders, the data logger and the statistics.
#include "mb_rtu_master.h"
#include "panel_ids.h"
#include "vek_app.h"

namespace vek {

namespace {

constexpr double kPollReplyWait = 1.0;
constexpr double kRecoveryShowTime = 0.5;

void showLink(App& app, int lamp, const std::string& text)
{
    app.ui.panels.SetCtrlVal(app.st.panelMain, PANEL_ERROR_COMM_LED, lamp);
    app.ui.panels.SetCtrlVal(app.st.panelMain, PANEL_ERROR_COM_MSG, text);
}

// Opens the port for the next exchange; the port's own words when it could not be opened
// (which device, and why), else "".
std::string openPort(App& app)
{
    LinkState& l = app.link;
    OpenComConfig_Vek(l, app.ui, l.usPortNumber, "", l.ulBaudRate, l.usParity, l.usNumBits, l.usStopBit, 512, -1);
    const int err = app.ui.com.ReturnRS232Err();
    return err < 0 ? app.ui.com.GetRS232ErrorString(err) : std::string();
}

// The measurements and warnings on the main window: greyed while they are older than the
// latest poll, so values from before an outage never pass for live ones.
constexpr int kLiveControls[] = {PANEL_DISTANCE_MM, PANEL_LEVEL_MM,  PANEL_LEVEL_PERC, PANEL_NUMERICTANK,
                                 PANEL_TEMPERATURE, PANEL_OUTPUT_MA, PANEL_FREQUENCY,  PANEL_MEASURE_STATUS,
                                 PANEL_SENSOR,      PANEL_RL1_LED,   PANEL_RL2_LED,    PANEL_ERROR_MSG,
                                 PANEL_ERROR_MSG_LED};

void showStale(App& app, bool stale)
{
    AppState& st = app.st;
    if (stale == st.valuesStale)
        return;
    st.valuesStale = stale;
    for (int ctrl : kLiveControls)
        app.ui.panels.SetCtrlAttribute(st.panelMain, ctrl, ATTR_DIMMED, stale ? 1 : 0);
}

void afterValidReply(App& app)
{
    AppState& st = app.st;
    Read_ProbeErrors(app);
    Read_Variables(app);
    if (st.userPanelOpen)
        Read_Variables_2(app);
    if (st.advancedPanelOpen)
        Read_Variables_3(app);
    if (st.dataLogPanelOpen) {
        if (st.loggingActive) {
            Read_File_Size(app);
        } else {
            st.dataLogText = "No writing file";
            app.ui.panels.SetCtrlAttribute(st.panelDataLog, DATA_LOG_DATALOG_MSG, ATTR_TEXT_COLOR, VAL_WHITE);
            app.ui.panels.SetCtrlVal(st.panelDataLog, DATA_LOG_DATALOG_MSG, st.dataLogText);
        }
    }
    // A row is due once the count reaches the interval or has passed it, so lowering the
    // interval mid-run never stops the log.
    if (st.logInterval <= 1)
        st.logPollCount = 1;
    else
        ++st.logPollCount;
    if (st.logPollCount >= st.logInterval) {
        Write_Data_Log(app);
        st.logPollCount = 0;
    }
    ++st.validResponseCount;
    st.lastValidTime = app.ui.TimeStr();
    app.ui.panels.SetCtrlVal(st.panelMain, PANEL_LAST_VALID, "Last valid reply " + st.lastValidTime);
}

}  // namespace

int Modbus_Communication(App& app)
{
    AppState& st = app.st;
    LinkState& link = app.link;
    bool configured = link.ucMBFlag != 0;
    if (!configured)
        configured = RecallChangedSerialSettings(app);
    // "No Port" is no port: nothing is sent until one is chosen.
    if (!configured || link.usPortNumber == 0) {
        SetCommErrorText(link, kMsgNoPort);
        showLink(app, 1, link.commErrorText);
    } else {
        const std::string openError = openPort(app);
        if (link.commError) {
            app.ui.com.CloseCom(link.usPortNumber);
            openPort(app);
            showLink(app, 1, link.commErrorText);
            app.ui.Delay(kRecoveryShowTime);
            showLink(app, 0, "");
            link.commError = 0;
        } else {
            ModBusMasterQuery(link);
            SendDataMaster(link, app.ui, link.usPortNumber);
            app.ui.Delay(kPollReplyWait);
            ReceiveDataMaster(link, app.ui, link.usPortNumber);
            if (link.responseValid != 1 && !openError.empty()) {
                // Nothing could answer through a port that is not open: say which and why,
                // rather than blame the transmitter.
                SetCommErrorText(link, openError);
                showLink(app, 1, link.commErrorText);
            }
            // Relay lamps of a transmitter without relays are greyed by the decoders; the
            // stale greying comes off first so theirs is the last word.
            showStale(app, link.responseValid != 1 && st.validResponseCount > 0);
            if (link.responseValid == 1)
                afterValidReply(app);
            st.successPercent =
                link.pollCount > 0 ? 100.0 * (static_cast<double>(st.validResponseCount) / link.pollCount) : 0.0;
        }
    }
    app.ui.panels.SetCtrlVal(st.panelMain, PANEL_N_POLLS, link.pollCount);
    app.ui.panels.SetCtrlVal(st.panelMain, PANEL_N_VALID_RESP, st.validResponseCount);
    app.ui.panels.SetCtrlVal(st.panelMain, PANEL_NUMERIC, st.successPercent);
    return 0;
}

int MB_COM(App& app, int /*panel*/, int /*control*/, int /*event*/)
{
    Modbus_Communication(app);
    app.ui.panels.ResetTimer(app.st.panelMain, PANEL_TIMER);
    return 0;
}

}  // namespace vek
