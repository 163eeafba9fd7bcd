// The polling cycle: every tick of the main window's timer opens the port, then either
// recovers from a serial error or reads the 78 registers and hands a valid reply to the
// decoders, the data logger and the statistics.
#include "mb_rtu_master.h"
#include "panel_ids.h"
#include "register_map.h"
#include "job.h"
#include "vek_app.h"

namespace vek {

namespace {

constexpr double kPollReplyWait = 1.0;
constexpr double kRecoveryShowTime = 0.5;

// The measurements and warnings on the main window: greyed while they are older than the
// latest poll, so values from before an outage never pass for live ones.
constexpr int kLiveControls[] = {PANEL_DISTANCE_MM,  PANEL_LEVEL_MM,  PANEL_LEVEL_PERC, PANEL_NUMERICTANK,
                                 PANEL_TEMPERATURE,  PANEL_OUTPUT_MA, PANEL_FREQUENCY,  PANEL_MEASURE_STATUS,
                                 PANEL_SENSOR,       PANEL_RL1_LED,   PANEL_RL2_LED,    PANEL_ERROR_MSG,
                                 PANEL_ERROR_MSG_LED};

void showStale(App& app, bool stale)
{
    AppState& st = app.st;
    if (stale == st.valuesStale)
        return;
    st.valuesStale = stale;
    for (int ctrl : kLiveControls)
        app.io.panels.SetCtrlAttribute(st.panelMain, ctrl, ATTR_DIMMED, stale ? 1 : 0);
}

void afterValidReply(App& app)
{
    AppState& st = app.st;
    Read_Variables(app);
    Read_ProbeErrors(app);
    if (st.userPanelOpen)
        Read_Variables_2(app);
    if (st.advancedPanelOpen)
        Read_Variables_3(app);
    if (st.dataLogPanelOpen) {
        if (st.loggingActive) {
            Read_File_Size(app);
        } else {
            st.dataLogText = "No writing file";
            app.io.panels.SetCtrlAttribute(st.panelDataLog, DATA_LOG_DATALOG_MSG, ATTR_TEXT_COLOR, VAL_WHITE);
            app.io.panels.SetCtrlVal(st.panelDataLog, DATA_LOG_DATALOG_MSG, st.dataLogText);
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
    app.trend.Add(TrendPointOf(WallNow(app), st.m));
    st.lastValidTime = app.io.TimeStr();
    app.io.panels.SetCtrlVal(st.panelMain, PANEL_LAST_VALID, "Last valid reply " + st.lastValidTime);
}

}  // namespace

namespace {

// One poll cycle: it waits its turn for the line, and the windows answer meanwhile.
// `restartTimer`: the main window's timer starts its 5 s again once the poll has ended, so
// polls follow each other 6 s apart however long the line was busy.
Job pollCycle(App& app, bool restartTimer)
{
    AppState& st = app.st;
    LinkState& link = app.link;
    st.pollUnderWay = true;
    struct Done {
        App& app;
        bool restart;
        ~Done()
        {
            app.st.pollUnderWay = false;
            if (restart && app.io.panels.panel(app.st.panelMain))
                app.io.panels.ResetTimer(app.st.panelMain, PANEL_TIMER);
        }
    } done{app, restartTimer};
    auto lease = co_await app.engine.Acquire();
    if (!lease)
        co_return;  // the program is closing
    // Find Transmitter has the port to itself while it scans: the timer goes on ticking and
    // the first tick after the scan polls again.
    if (app.scan.running()) {
        ShowLinkState(app, false, kMsgScanning);
        co_return;
    }
    bool configured = link.ucMBFlag != 0;
    if (!configured)
        configured = RecallChangedSerialSettings(app);
    // "No Port" is no port: nothing is sent until one is chosen.
    if (!configured || link.usPortNumber == 0) {
        SetCommErrorText(link, kMsgNoPort);
        ShowLinkState(app, true, link.commErrorText);
    } else {
        const std::string openError = OpenLinkPort(app);
        if (link.commError) {
            // The last reply ended in a serial error: start the port afresh and show the
            // error for a moment instead of polling.
            app.io.com.CloseCom(link.usPortNumber);
            OpenLinkPort(app);
            ShowLinkState(app, true, link.commErrorText);
            co_await app.engine.Sleep(kRecoveryShowTime);
            ShowLinkState(app, false, "");
            link.commError = 0;
        } else {
            // The poll waits out its whole window and judges what waits at its end.
            co_await ExchangeWithSlave(
                app,
                [&app](LinkState& l, MasterIo& io, int port) {
                    return StartReadHoldingRegisters(l, io, port, static_cast<std::uint8_t>(l.slaveAddress), 0,
                                                     reg::kPolled, ReplyWaitOf(app, kPollReplyWait, false));
                },
                openError);
            // Relay lamps of a transmitter without relays are greyed by the decoders; the
            // stale greying comes off first so theirs is the last word.
            showStale(app, link.responseValid != 1 && !st.lastValidTime.empty());
            if (link.responseValid == 1)
                afterValidReply(app);
        }
    }
    ShowStatistics(app);
}

}  // namespace

int Modbus_Communication(App& app)
{
    pollCycle(app, false);
    return 0;
}

int MB_COM(App& app, int /*panel*/, int /*control*/, int /*event*/)
{
    // A poll still waiting for the line (behind a restore) is the one this tick asks for.
    if (!app.st.pollUnderWay)
        pollCycle(app, true);
    return 0;
}

}  // namespace vek
