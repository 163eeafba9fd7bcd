// Start-up, the main panel, navigation between the windows, and exit.
#include <filesystem>

#include "mb_rtu_master.h"
#include "panel_ids.h"
#include "vek_app.h"

namespace vek {

namespace {

constexpr const char* kMainTitle = "VEK-QUENOR Modbus RTU Software";
constexpr const char* kMainBanner = "VEK MODBUS RTU SOFTWARE";

}  // namespace

bool OpenPanel(App& app, int& handle, int panelId, bool makeActive)
{
    auto& ui = app.io.panels;
    const ui::Panel* p = ui.panel(handle);
    if (p && p->visible && p->id == panelId) {
        ui.DisplayPanel(handle);
        ui.SetActivePanel(handle);
        return false;
    }
    // The hidden copy loaded at start goes: nothing refers to it once the handle moves on.
    if (p && p->id == panelId)
        ui.DiscardPanel(handle);
    handle = ui.LoadPanel(0, kResourceFile, panelId);
    ui.DisplayPanel(handle);
    if (makeActive)
        ui.SetActivePanel(handle);
    return true;
}

int StartUp(App& app)
{
    // The resource must load before anything is shown.
    const int check = app.io.panels.LoadPanel(0, kResourceFile, PANEL);
    if (check < 0)
        return -1;
    app.io.panels.DiscardPanel(check);
    Init_Vars(app);
    Init_Main_Panel(app);
    return 0;
}

void Init_Main_Panel(App& app)
{
    auto& ui = app.io.panels;
    AppState& st = app.st;
    st.panelMain = ui.LoadPanel(0, kResourceFile, PANEL);
    st.panelRs485 = ui.LoadPanel(0, kResourceFile, PANEL_2);
    st.panelAdvanced = ui.LoadPanel(0, kResourceFile, PANEL_3);
    st.panelUser = ui.LoadPanel(0, kResourceFile, PANEL_4);
    st.panelPassword = ui.LoadPanel(0, kResourceFile, PASSWORD);
    st.panelWriteDialog = ui.LoadPanel(0, kResourceFile, WRITE_VAL);
    st.panelInfo = ui.LoadPanel(0, kResourceFile, INFO);
    st.panelDataLog = ui.LoadPanel(0, kResourceFile, DATA_LOG);

    for (int attr : {ATTR_PANEL_SIZABLE, ATTR_PANEL_CAN_MINIMIZE, ATTR_PANEL_CAN_MAXIMIZE, ATTR_PANEL_SYSTEM_MENU,
                     ATTR_PANEL_MOVABLE})
        ui.SetPanelAttribute(st.panelMain, attr, 1);

    // The logo: from the working directory when one is there, else the one shipped beside
    // the program. A missing logo leaves the picture empty.
    const int logo = ui.NewCtrl(st.panelMain, CTRL_PICTURE, "", 10, 40);
    const std::string logoPath =
        std::filesystem::exists(kLogoFile) ? std::filesystem::absolute(kLogoFile).string() : std::string(kLogoFile);
    ui.DisplayImageFile(st.panelMain, logo, logoPath);
    ui.SetCtrlAttribute(st.panelMain, logo, ATTR_PICTURE_FIT, 0);
    ui.SetCtrlAttribute(st.panelMain, logo, ATTR_PICTURE_FRAME, 0);

    ui.SetCtrlAttribute(st.panelMain, PANEL_SENSOR, ATTR_SIZE_TO_IMAGE, 1);
    ui.SetCtrlAttribute(st.panelMain, PANEL_INFO, ATTR_SIZE_TO_IMAGE, 1);
    ui.SetCtrlVal(st.panelMain, PANEL_TEXTMSG_7, kMainBanner);
    ui.SetPanelAttribute(st.panelMain, ATTR_TITLE, std::string(kMainTitle));
    ui.DisplayPanel(st.panelMain);
    ui.SetActivePanel(st.panelMain);
}

ui::CallbackRegistry MakeCallbackRegistry(App& app)
{
    using Fn = int (*)(App&, int, int, int);
    const std::pair<const char*, Fn> table[] = {
        {"Get_Buttons", Get_Buttons},
        {"Get_Buttons_2", Get_Buttons_2},
        {"Get_Buttons_3", Get_Buttons_3},
        {"Set_Value", Set_Value},
        {"MB_COM", MB_COM},
        {"Write_Value", Write_Value},
        {"Write_Value_1", Write_Value_1},
        {"Write_Value_2", Write_Value_2},
        {"Write_Value_3", Write_Value_3},
        {"Write_Ascii", Write_Ascii},
        {"Write_Single_Register", Write_Single_Register},
        {"Slave_Add", Slave_Add},
        {"Open_Write_File", Open_Write_File},
        {"Show_Traffic", Show_Traffic},
        {"Show_Trend", Show_Trend},
        {"Back_Up_Setup", Back_Up_Setup},
        {"Compare_Setup", Compare_Setup},
        {"Restore_Setup", Restore_Setup},
        {"Find_Transmitter", Find_Transmitter},
    };
    ui::CallbackRegistry r;
    for (const auto& entry : table) {
        const Fn fn = entry.second;
        r[entry.first] = [&app, fn](int panel, int control, int event, void*, int, int) {
            return fn(app, panel, control, event);
        };
    }
    return r;
}

int Get_Buttons(App& app, int /*panel*/, int control, int event)
{
    if (event != EVENT_COMMIT)
        return 0;
    auto& ui = app.io.panels;
    AppState& st = app.st;
    LinkState& link = app.link;
    switch (control) {
    case PANEL_EXIT: P_Quit(app); break;
    case PANEL_CONFIG_SER_PORT:
        st.currentPanel = PANEL_2;
        if (!OpenPanel(app, st.panelRs485, PANEL_2, true))
            break;
        // Before the first poll nothing has been recalled yet: show what is saved, so that
        // "Save Settings" pressed now cannot overwrite the saved port with "No Port".
        if (!link.ucMBFlag)
            RecallSerialSettings(app);
        // The rings show what the line really uses: the baud selector 1 is 19200 and every
        // other value 9600; the data and stop bits rings hold 0 for 8 and 1 bits.
        ui.SetCtrlVal(st.panelRs485, PANEL_2_Porta, link.usPortNumber);
        ui.SetCtrlVal(st.panelRs485, PANEL_2_COMPORT, link.usPortNumber);
        ui.SetCtrlVal(st.panelRs485, PANEL_2_BAUD_RATE, link.ulBaudRate == 1 ? 1 : 0);
        ui.SetCtrlVal(st.panelRs485, PANEL_2_PARITY, link.usParity);
        ui.SetCtrlVal(st.panelRs485, PANEL_2_DATA_BITS, link.usNumBits == 7 ? 1 : 0);
        ui.SetCtrlVal(st.panelRs485, PANEL_2_BIT_STOP, link.usStopBit == 2 ? 1 : 0);
        ui.SetCtrlVal(st.panelRs485, PANEL_2_CONNECTION, st.network.kind);
        ui.SetCtrlVal(st.panelRs485, PANEL_2_NET_HOST, st.network.host);
        ui.SetCtrlVal(st.panelRs485, PANEL_2_NET_PORT, st.network.port);
        ui.SetCtrlVal(st.panelRs485, PANEL_2_DEVICE_PATH, LinkDeviceTextOf(app));
        ShowConnectionKind(app);
        break;
    case PANEL_SET_UP:
        st.currentPanel = PASSWORD;
        if (!OpenPanel(app, st.panelPassword, PASSWORD, true))
            break;
        ui.SetCtrlAttribute(st.panelPassword, PASSWORD_STRING, ATTR_PASSWORD_MASK, 1);
        ui.SetActiveCtrl(st.panelPassword, PASSWORD_STRING);
        break;
    case PANEL_SET_UP_UT:
        st.currentPanel = PANEL_4;
        st.userPanelOpen = PANEL_4;
        if (!OpenPanel(app, st.panelUser, PANEL_4, true))
            break;
        ui.SetPanelAttribute(st.panelUser, ATTR_PANEL_CLOSE_ITEM, 0);
        Read_Variables_2(app);
        break;
    case PANEL_INFO:
        st.currentPanel = INFO;
        OpenPanel(app, st.panelInfo, INFO, false);
        break;
    case PANEL_LOGGER:
        st.currentPanel = DATA_LOG;
        st.dataLogPanelOpen = DATA_LOG;
        if (OpenPanel(app, st.panelDataLog, DATA_LOG, true)) {
            ui.SetCtrlVal(st.panelDataLog, DATA_LOG_FILE_NAME, ".xls");
            // While a log is being written the window shows it at once, so an "Open/Create"
            // pressed before the next poll cannot switch the log to a file named ".xls".
            if (st.loggingActive)
                Read_File_Size(app);
        }
        break;
    case PANEL_2_EXIT: ui.DiscardPanel(st.panelRs485); break;
    case PANEL_2_APPLY: ReopenLinkPort(app, 0, false); break;
    case PANEL_2_SAVE_SETTINGS:
        // A settings file that silently failed to save would bring back the old port next run.
        if (ui.SavePanelState(st.panelRs485, st.settingsFileName, st.settingsStateIndex) < 0)
            app.io.MessagePopup("Error message", "The settings could not be saved to \"" + st.settingsFileName + "\".");
        break;
    case PANEL_3_EXIT_3:
        CloseDialogsOpenedFrom(app, st.panelAdvanced);
        ui.DiscardPanel(st.panelAdvanced);
        st.advancedPanelOpen = 0;
        break;
    case DATA_LOG_EXIT:
        ui.DiscardPanel(st.panelDataLog);
        st.dataLogPanelOpen = 0;
        break;
    default: break;
    }
    return 0;
}

int Get_Buttons_2(App& app, int /*panel*/, int control, int event)
{
    if (event == EVENT_COMMIT && control == PANEL_4_USCITA) {
        CloseDialogsOpenedFrom(app, app.st.panelUser);
        app.io.panels.DiscardPanel(app.st.panelUser);
        app.st.userPanelOpen = 0;
    }
    return 0;
}

int Get_Buttons_3(App& app, int /*panel*/, int control, int event)
{
    if (event == EVENT_COMMIT && control == INFO_EXIT)
        app.io.panels.DiscardPanel(app.st.panelInfo);
    return 0;
}

void P_Quit(App& app)
{
    app.io.panels.DiscardPanel(app.st.panelMain);
    // An exchange under way ends first (2 s at the most), so nothing is left half-sent; a
    // long job stops there as if cancelled, and whatever waits for the line is dropped.
    app.engine.Shutdown([&app] {
        app.io.com.CloseCom(app.link.usPortNumber);
        if (app.quit)
            app.quit(0);
    });
}

}  // namespace vek
