// The one way the application talks to the transmitter: open the port, run the link's
// exchange, and show what it came to on the main window (message and lamp).
#include <algorithm>

#include "mb_rtu_master.h"
#include "panel_ids.h"
#include "traffic_record.h"
#include "vek_app.h"

namespace vek {

void ShowLinkState(App& app, bool lamp, const std::string& text)
{
    app.io.panels.SetCtrlVal(app.st.panelMain, PANEL_ERROR_COMM_LED, lamp ? 1 : 0);
    app.io.panels.SetCtrlVal(app.st.panelMain, PANEL_ERROR_COM_MSG, text);
}

std::string OpenLinkPort(App& app)
{
    LinkState& l = app.link;
    OpenComConfig_Vek(l, app.io.com, l.usPortNumber, "", l.ulBaudRate, l.usParity, l.usNumBits, l.usStopBit, 512, -1);
    const int err = app.io.com.ReturnRS232Err();
    return err < 0 ? app.io.com.GetRS232ErrorString(err) : std::string();
}

Job ReopenLinkPort(App& app, int previousPort, bool showDevice)
{
    auto lease = co_await app.engine.Acquire();
    if (!lease)
        co_return;
    LinkState& l = app.link;
    if (previousPort != 0 && previousPort != l.usPortNumber)
        app.io.com.CloseCom(previousPort);
    app.io.com.CloseCom(l.usPortNumber);
    OpenLinkPort(app);
    if (showDevice && app.io.panels.panel(app.st.panelRs485))
        app.io.panels.SetCtrlVal(app.st.panelRs485, PANEL_2_DEVICE_PATH, LinkDeviceTextOf(app));
}

Async<RtuResult> ExchangeWithSlave(App& app, LinkCall call, std::string openError)
{
    LinkState& l = app.link;
    MasterIo io{app.io.com, app.io.clock};
    const int port = l.usPortNumber;
    const double startedAt = WallNow(app);
    RtuResult r = co_await app.engine.Exchange([&] { return call(l, io, port); });
    if (!r.outcome.valid() && !openError.empty()) {
        // Nothing could answer through a port that is not open: say which and why, rather
        // than blame the transmitter.
        SetCommErrorText(l, openError);
    }
    // Only an exchange that sent a request has frames to show.
    if (!r.request.empty())
        RecordExchange(app, startedAt, r, !openError.empty());
    // A valid read lands in the image the windows, backups and restores use, at its registers.
    if (!r.registers.empty() && r.request.size() >= 6) {
        const std::size_t start = static_cast<std::size_t>(r.request[2] << 8 | r.request[3]);
        for (std::size_t i = 0; i < r.registers.size() && start + i < app.image.size(); ++i)
            app.image[start + i] = r.registers[i];
    }
    // Every outcome but a valid reply lights the lamp, whatever its text says.
    ShowLinkState(app, !r.outcome.valid(), l.commErrorText);
    // The statistics say how healthy the line is: a write's good echo and a set-up tool's good
    // read are valid replies as much as a poll's, so a clean line shows 100 %.
    if (r.outcome.valid())
        ++app.st.validResponseCount;
    ShowStatistics(app);
    co_return r;
}

ReplyWait ReplyWaitOf(const App& app, double limit, bool endsEarly)
{
    return {limit, endsEarly, BaudRateOf(app.link.ulBaudRate), app.link.usParity != 0};
}

void ShowStatistics(App& app)
{
    AppState& st = app.st;
    const int polls = app.link.pollCount;
    st.successPercent = polls > 0 ? 100.0 * (static_cast<double>(st.validResponseCount) / polls) : 0.0;
    app.io.panels.SetCtrlVal(st.panelMain, PANEL_N_POLLS, polls);
    app.io.panels.SetCtrlVal(st.panelMain, PANEL_N_VALID_RESP, st.validResponseCount);
    app.io.panels.SetCtrlVal(st.panelMain, PANEL_NUMERIC, st.successPercent);
}

}  // namespace vek
