// The serial settings window, the settings file that carries them across runs, and the
// password in front of the advanced set-up.
#include <filesystem>

#include "link_switch.h"
#include "panel_ids.h"
#include "vek_app.h"

namespace vek {

std::string DeviceTextOf(const platform::Rs232& com, int port)
{
    if (port < 1)
        return "No port chosen";
    // While the port is open the device in use counts, even if the number would resolve to
    // another one now (the next poll's reopening switches to it).
    if (const std::string inUse = com.DevicePath(port); !inUse.empty())
        return "COM" + std::to_string(port) + " = " + inUse;
    const std::string path = platform::ResolveComPort(port);
    const bool present = platform::DeviceExists(path);
    return "COM" + std::to_string(port) + " = " + path + (present ? "" : " (not present)");
}

namespace {

constexpr int kDefaultGatewayPort = 502;

platform::TcpEndpoint endpointOf(const AppState::Network& n)
{
    return {n.host, n.port, n.kind == 2 ? platform::GatewayKind::ModbusTcp : platform::GatewayKind::RtuOverTcp};
}

}  // namespace

void ApplyNetworkSettings(App& app)
{
    const AppState::Network& n = app.st.network;
    LinkState& link = app.link;
    if (n.kind == 0) {
        link.deviceName.clear();
        return;
    }
    link.deviceName = platform::NetworkDeviceName(endpointOf(n));
    if (link.usPortNumber == 0)
        link.usPortNumber = 1;
}

std::string SettingsDeviceName(const App& app)
{
    const AppState::Network& n = app.st.network;
    return n.kind == 0 ? std::string() : platform::NetworkDeviceName(endpointOf(n));
}

void SetNetworkSettings(App& app, const std::string& deviceName)
{
    const auto e = platform::ParseNetworkDeviceName(deviceName);
    if (!e)
        return;
    AppState& st = app.st;
    st.network = {e->kind == platform::GatewayKind::ModbusTcp ? 2 : 1, e->host, e->port};
    auto& ui = app.io.panels;
    if (ui.panel(st.panelRs485)) {
        ui.SetCtrlVal(st.panelRs485, PANEL_2_CONNECTION, st.network.kind);
        ui.SetCtrlVal(st.panelRs485, PANEL_2_NET_HOST, st.network.host);
        ui.SetCtrlVal(st.panelRs485, PANEL_2_NET_PORT, st.network.port);
        ShowConnectionKind(app);
    }
}

std::string LinkDeviceTextOf(const App& app)
{
    const AppState::Network& n = app.st.network;
    if (n.kind == 0)
        return DeviceTextOf(app.io.com, app.link.usPortNumber);
    if (n.host.empty())
        return "No gateway host given";
    return std::string(n.kind == 2 ? "Modbus TCP" : "RTU over TCP") + " to " + platform::EndpointText(endpointOf(n));
}

bool RecallSerialSettings(App& app)
{
    AppState& st = app.st;
    auto& ui = app.io.panels;
    long long size = 0;
    if (app.io.files.GetFileInfo(st.settingsFileName, &size) != 1)
        return false;
    // The recall needs a settings panel to land in; after the window was closed there is
    // none, so a hidden copy stands in, as at start.
    if (!ui.panel(st.panelRs485))
        st.panelRs485 = ui.LoadPanel(0, kResourceFile, PANEL_2);
    // A file written before network connections existed names none: it reads as the serial
    // port it always was.
    ui.SetCtrlVal(st.panelRs485, PANEL_2_CONNECTION, 0);
    ui.SetCtrlVal(st.panelRs485, PANEL_2_NET_HOST, std::string());
    ui.SetCtrlVal(st.panelRs485, PANEL_2_NET_PORT, kDefaultGatewayPort);
    if (ui.RecallPanelState(st.panelRs485, st.settingsFileName, st.settingsStateIndex) < 0)
        return false;
    int port = 0, baud = 0, parity = 0, kind = 0, netPort = 0;
    std::string host;
    ui.GetCtrlVal(st.panelRs485, PANEL_2_Porta, port);
    ui.GetCtrlVal(st.panelRs485, PANEL_2_BAUD_RATE, baud);
    ui.GetCtrlVal(st.panelRs485, PANEL_2_PARITY, parity);
    ui.GetCtrlVal(st.panelRs485, PANEL_2_CONNECTION, kind);
    ui.GetCtrlVal(st.panelRs485, PANEL_2_NET_HOST, host);
    ui.GetCtrlVal(st.panelRs485, PANEL_2_NET_PORT, netPort);
    // Only what the settings window could have saved counts; anything else is a broken file.
    if (port < 1 || port > 9)
        return false;
    if (kind < 0 || kind > 2 || (kind != 0 && (host.empty() || netPort < 1 || netPort > 65535)))
        return false;
    app.link.usPortNumber = static_cast<std::uint16_t>(port);
    app.link.ulBaudRate = baud == 1 ? 1 : 0;
    app.link.usParity = static_cast<std::uint16_t>(parity >= 0 && parity <= 2 ? parity : 0);
    app.link.ucMBFlag = 1;
    st.network = {kind, host, netPort};
    ApplyNetworkSettings(app);
    ShowConnectionKind(app);
    return true;
}

bool RecallChangedSerialSettings(App& app)
{
    AppState::FileStamp now;
    now.exists = app.io.files.GetFileStamp(app.st.settingsFileName, &now.size, &now.modifiedNs);
    if (now == app.st.settingsRecalled)
        return false;
    app.st.settingsRecalled = now;
    return RecallSerialSettings(app);
}

int Psw_config(App& app)
{
    app.io.panels.GetCtrlVal(app.st.panelPassword, PASSWORD_STRING, app.st.passwordText);
    return platform::CompareStrings(app.st.passwordText, 0, kPassword, 0, 0) == 0 ? 1 : 0;
}

void ShowConnectionKind(App& app)
{
    auto& ui = app.io.panels;
    const int rs = app.st.panelRs485;
    if (!ui.panel(rs))
        return;
    // Through a gateway the line settings are the gateway's own, and nothing of them is sent.
    // The gateway's host and port stay open to typing either way, so they can be filled in
    // before the connection is switched to it.
    const bool network = app.st.network.kind != 0;
    for (int ctrl : {PANEL_2_BAUD_RATE, PANEL_2_PARITY, PANEL_2_DATA_BITS, PANEL_2_BIT_STOP})
        ui.SetCtrlAttribute(rs, ctrl, ATTR_DIMMED, network ? 1 : 0);
}

int Set_Value(App& app, int panel, int control, int event)
{
    auto& ui = app.io.panels;
    AppState& st = app.st;
    LinkState& link = app.link;
    const ui::Panel* p = ui.panel(panel);
    if (!p)
        return 0;
    // The window that raised the event decides, not the last window opened: an open
    // settings window always changes the settings, and the password window always works.
    if (p->id == PANEL_2 && event == EVENT_VAL_CHANGED) {
        int v = 0;
        ui.GetCtrlVal(panel, control, v);
        switch (control) {
        case PANEL_2_PARITY:
            link.usParity = static_cast<std::uint16_t>(v);
            ui.SetCtrlVal(panel, control, link.usParity);
            break;
        case PANEL_2_BAUD_RATE:
            link.ulBaudRate = static_cast<std::uint32_t>(v);
            ui.SetCtrlVal(panel, control, link.ulBaudRate);
            break;
        case PANEL_2_COMPORT:
            link.usPortNumber = static_cast<std::uint16_t>(v);
            ui.SetCtrlVal(panel, PANEL_2_Porta, link.usPortNumber);
            ApplyNetworkSettings(app);
            ui.SetCtrlVal(panel, PANEL_2_DEVICE_PATH, LinkDeviceTextOf(app));
            link.ucMBFlag = 1;
            break;
        case PANEL_2_CONNECTION:
        case PANEL_2_NET_PORT:
            if (control == PANEL_2_CONNECTION) {
                st.network.kind = v >= 0 && v <= 2 ? v : 0;
                ShowConnectionKind(app);
            }
            else
                st.network.port = v;
            [[fallthrough]];
        case PANEL_2_NET_HOST: {
            if (control == PANEL_2_NET_HOST)
                ui.GetCtrlVal(panel, PANEL_2_NET_HOST, st.network.host);
            ApplyNetworkSettings(app);
            // A network connection stands on a port number too: the ring shows which.
            ui.SetCtrlVal(panel, PANEL_2_COMPORT, link.usPortNumber);
            ui.SetCtrlVal(panel, PANEL_2_Porta, link.usPortNumber);
            ui.SetCtrlVal(panel, PANEL_2_DEVICE_PATH, LinkDeviceTextOf(app));
            link.ucMBFlag = 1;
            break;
        }
        case PANEL_2_DATA_BITS: link.usNumBits = v == 1 ? 7 : 8; break;
        case PANEL_2_BIT_STOP: link.usStopBit = v == 1 ? 2 : 1; break;
        default: break;
        }
    } else if (p->id == PASSWORD && event == EVENT_COMMIT) {
        if (control == PASSWORD_ENTER) {
            st.panelPassword = panel;
            if (Psw_config(app)) {
                ui.DiscardPanel(st.panelPassword);
                st.currentPanel = PANEL_3;
                st.advancedPanelOpen = PANEL_3;
                OpenPanel(app, st.panelAdvanced, PANEL_3, true);
                Read_Variables_3(app);
            } else {
                app.io.MessagePopup("Warning", "Wrong Password!");
            }
        } else if (control == PASSWORD_EXIT) {
            ui.DiscardPanel(panel);
        }
    }
    return 0;
}

}  // namespace vek
