// Start-up, navigation between the windows, the serial settings and the password gate,
// on the headless program with its real callbacks.
#include <gtest/gtest.h>

#include <fstream>

#include "app_rig.h"
#include "cwd_guard.h"

using namespace vek;
using namespace vek::test;

namespace {

struct Shell : ::testing::Test {
    CwdGuard cwd;
    AppRig rig;
    ui::PanelModel& panels = rig.panels;
    App& app = rig.app;
    void press(int ctrl) { panels.PostEvent(app.st.panelMain, ctrl, EVENT_COMMIT); }
    int visibleCopies(int panelId) const
    {
        int n = 0;
        for (int h : panels.handles())
            n += panels.panel(h)->id == panelId && panels.panel(h)->visible;
        return n;
    }
    int ringValue(int handle, int ctrl) const
    {
        int v = -1;
        panels.GetCtrlVal(handle, ctrl, v);
        return v;
    }
    void typePassword(const std::string& text)
    {
        panels.SetCtrlVal(app.st.panelPassword, PASSWORD_STRING, text);
        panels.PostEvent(app.st.panelPassword, PASSWORD_ENTER, EVENT_COMMIT);
    }
};

}  // namespace

TEST_F(Shell, StartUpSetsEveryDefaultAndShowsOnlyTheMainWindow)
{
    const AppState& st = app.st;
    const LinkState& l = app.link;
    EXPECT_EQ(l.slaveAddress, 1);
    EXPECT_EQ(l.pollCount, 0);
    EXPECT_EQ(st.validResponseCount, 0);
    EXPECT_EQ(l.ucFuncCod, 3);
    EXPECT_EQ(l.usStartAddress, 0u);
    EXPECT_EQ(l.usNumCoilsRegs, 78u);
    EXPECT_EQ(l.ulBaudRate, 9600u);
    EXPECT_EQ(l.usNumBits, 8);
    EXPECT_EQ(l.usStopBit, 1);
    EXPECT_EQ(l.ucMBFlag, 0);
    EXPECT_EQ(l.responseValid, 1);
    EXPECT_EQ(st.logInterval, 1);
    EXPECT_EQ(st.loggingActive, 0);
    EXPECT_EQ(st.currentPanel, PANEL);
    EXPECT_EQ(st.settingsFileName, "RS_Settings");
    EXPECT_EQ(panels.panel(st.panelMain)->title, "VEK-QUENOR Modbus RTU Software");
    std::string banner;
    panels.GetCtrlVal(st.panelMain, PANEL_TEXTMSG_7, banner);
    EXPECT_EQ(banner, "VEK MODBUS RTU SOFTWARE");
    int slave = 0;
    panels.GetCtrlVal(st.panelMain, PANEL_SLAVE_ADDRESS, slave);
    EXPECT_EQ(slave, 1);
    int shown = 0;
    for (int h : panels.handles())
        shown += panels.panel(h)->visible;
    EXPECT_EQ(shown, 1);
    EXPECT_TRUE(panels.panel(st.panelMain)->visible);
    EXPECT_EQ(panels.activePanel(), st.panelMain);
    // The logo picture exists even when no logo file is at hand.
    EXPECT_EQ(panels.panel(st.panelMain)->controls.back().kind, ui::Kind::Picture);
}

TEST(StartUpWithoutResource, ReturnsMinusOneAndShowsNothing)
{
    CwdGuard cwd;  // neither here nor in the (empty) resource folder
    platform::VirtualClock clock;
    platform::MemoryRs232 com(clock);
    ui::RecordingPresenter popups;
    platform::PosixFiles files;
    ui::PanelModel panels(clock, {}, cwd.dir().string());
    Services platform{panels, com, clock, files, popups};
    App app(platform);
    panels.setCallbacks(MakeCallbackRegistry(app));
    EXPECT_EQ(StartUp(app), -1);
    EXPECT_TRUE(panels.handles().empty());
}

TEST_F(Shell, EachButtonOpensOneCopyAndRecordsIt)
{
    struct Row {
        int button, panelId, current;
        int AppState::*handle;
        int AppState::*flag;
        int flagValue;
    };
    const Row rows[] = {
        {PANEL_CONFIG_SER_PORT, PANEL_2, 4, &AppState::panelRs485, nullptr, 0},
        {PANEL_SET_UP, PASSWORD, 7, &AppState::panelPassword, nullptr, 0},
        {PANEL_SET_UP_UT, PANEL_4, 6, &AppState::panelUser, &AppState::userPanelOpen, 6},
        {PANEL_INFO, INFO, 2, &AppState::panelInfo, nullptr, 0},
        {PANEL_LOGGER, DATA_LOG, 1, &AppState::panelDataLog, &AppState::dataLogPanelOpen, 1},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.panelId);
        press(r.button);
        const int h = app.st.*r.handle;
        ASSERT_NE(panels.panel(h), nullptr);
        EXPECT_EQ(panels.panel(h)->id, r.panelId);
        EXPECT_TRUE(panels.panel(h)->visible);
        EXPECT_EQ(app.st.currentPanel, r.current);
        if (r.flag) {
            EXPECT_EQ(app.st.*r.flag, r.flagValue);
        }
        press(r.button);  // a second press raises the window already shown
        EXPECT_EQ(app.st.*r.handle, h);
        EXPECT_EQ(visibleCopies(r.panelId), 1);
    }
    std::string name;
    panels.GetCtrlVal(app.st.panelDataLog, DATA_LOG_FILE_NAME, name);
    EXPECT_EQ(name, ".xls");
    ui::Value mask;
    panels.GetCtrlAttribute(app.st.panelPassword, PASSWORD_STRING, ATTR_PASSWORD_MASK, mask);
    EXPECT_EQ(std::get<long long>(mask), 1);

    // Closing keeps the last panel opened as it was and clears only the open flags.
    panels.PostEvent(app.st.panelInfo, INFO_EXIT, EVENT_COMMIT);
    panels.PostEvent(app.st.panelUser, PANEL_4_USCITA, EVENT_COMMIT);
    panels.PostEvent(app.st.panelDataLog, DATA_LOG_EXIT, EVENT_COMMIT);
    panels.PostEvent(app.st.panelRs485, PANEL_2_EXIT, EVENT_COMMIT);
    EXPECT_EQ(app.st.currentPanel, 1);
    EXPECT_EQ(app.st.userPanelOpen, 0);
    EXPECT_EQ(app.st.dataLogPanelOpen, 0);
    EXPECT_EQ(visibleCopies(INFO) + visibleCopies(PANEL_4) + visibleCopies(DATA_LOG) + visibleCopies(PANEL_2), 0);
}

TEST_F(Shell, OpeningAndClosingManyTimesLeavesNoPanelsBehind)
{
    const std::size_t before = panels.handles().size();
    for (int i = 0; i < 50; ++i) {
        press(PANEL_SET_UP_UT);
        panels.PostEvent(app.st.panelUser, PANEL_4_USCITA, EVENT_COMMIT);
        press(PANEL_INFO);
        panels.PostEvent(app.st.panelInfo, INFO_EXIT, EVENT_COMMIT);
    }
    EXPECT_LE(panels.handles().size(), before);
}

TEST_F(Shell, ExitClosesThePortAndEndsWithStatusZeroWhateverIsOpen)
{
    rig.configurePort(2);
    rig.tick();
    press(PANEL_SET_UP_UT);
    press(PANEL_LOGGER);
    press(PANEL_EXIT);
    EXPECT_EQ(rig.quitStatus, 0);
    EXPECT_EQ(rig.com.closes.back(), 2);
    EXPECT_FALSE(rig.com.isOpen(2));
}

TEST_F(Shell, PasswordIsTheStoredWordInAnyCaseAndNothingElse)
{
    for (const char* wrong : {"tundo ", "tundox", "", "tund", " tundo"}) {
        press(PANEL_SET_UP);
        typePassword(wrong);
        EXPECT_EQ(app.st.advancedPanelOpen, 0) << '"' << wrong << '"';
        ASSERT_FALSE(rig.popups.popups.empty());
        EXPECT_EQ(rig.popups.popups.back().title, "Warning");
        EXPECT_EQ(rig.popups.popups.back().text, "Wrong Password!");
        EXPECT_TRUE(panels.panel(app.st.panelPassword)->visible) << "the gate stays open";
    }
    for (const char* right : {"tundo", "TUNDO", "TuNdO"}) {
        press(PANEL_SET_UP);
        typePassword(right);
        EXPECT_EQ(app.st.advancedPanelOpen, 5) << right;
        EXPECT_EQ(app.st.currentPanel, 5);
        EXPECT_EQ(panels.panel(app.st.panelPassword), nullptr) << "the gate is gone";
        EXPECT_EQ(panels.panel(app.st.panelAdvanced)->id, PANEL_3);
        panels.PostEvent(app.st.panelAdvanced, PANEL_3_EXIT_3, EVENT_COMMIT);
        EXPECT_EQ(app.st.advancedPanelOpen, 0);
    }
}

TEST_F(Shell, PasswordWindowWorksAfterAnotherWindowOpened)
{
    press(PANEL_SET_UP);
    press(PANEL_LOGGER);  // the last window opened is now the logger
    typePassword("TUNDO");
    EXPECT_EQ(app.st.advancedPanelOpen, 5);

    press(PANEL_SET_UP);
    press(PANEL_INFO);
    const int gate = app.st.panelPassword;
    panels.PostEvent(gate, PASSWORD_EXIT, EVENT_COMMIT);
    EXPECT_EQ(panels.panel(gate), nullptr) << "Quit always closes the gate";
}

TEST_F(Shell, SettingsWindowShowsTheLineTruthfullyAndItsRingsAlwaysApply)
{
    press(PANEL_CONFIG_SER_PORT);
    const int rs = app.st.panelRs485;
    EXPECT_EQ(ringValue(rs, PANEL_2_COMPORT), 0);
    EXPECT_EQ(ringValue(rs, PANEL_2_Porta), 0);
    EXPECT_EQ(ringValue(rs, PANEL_2_BAUD_RATE), 0) << "9600 baud shows \"9600\"";
    EXPECT_EQ(ringValue(rs, PANEL_2_DATA_BITS), 0) << "8 data bits show \"8\"";
    EXPECT_EQ(ringValue(rs, PANEL_2_BIT_STOP), 0) << "1 stop bit shows \"1\"";
    std::string device;
    panels.GetCtrlVal(rs, PANEL_2_DEVICE_PATH, device);
    EXPECT_EQ(device, "No port chosen");

    press(PANEL_INFO);  // another window opened last: the rings still apply
    panels.UserSetValue(rs, PANEL_2_COMPORT, 3);
    panels.UserSetValue(rs, PANEL_2_BAUD_RATE, 1);
    panels.UserSetValue(rs, PANEL_2_PARITY, 1);
    EXPECT_EQ(app.link.usPortNumber, 3);
    EXPECT_EQ(app.link.ucMBFlag, 1);
    EXPECT_EQ(app.link.ulBaudRate, 1u);
    EXPECT_EQ(app.link.usParity, 1);
    EXPECT_EQ(ringValue(rs, PANEL_2_Porta), 3);
    panels.GetCtrlVal(rs, PANEL_2_DEVICE_PATH, device);
    EXPECT_EQ(device.rfind("COM3 = ", 0), 0u) << device;

    panels.PostEvent(rs, PANEL_2_APPLY, EVENT_COMMIT);
    ASSERT_FALSE(rig.com.closes.empty());
    EXPECT_EQ(rig.com.closes.back(), 3);
    EXPECT_EQ(rig.com.opens.back().baud, 19200);
    EXPECT_EQ(rig.com.opens.back().parity, platform::RS_PARITY_EVEN);
}

TEST_F(Shell, SettingsWindowNamesTheDeviceThePortIsOpenOnElseTheOneItResolvesTo)
{
    struct EnvGuard {
        EnvGuard() { ::setenv("VEK_COM2", "/nonexistent/vek-adapter", 1); }
        ~EnvGuard() { ::unsetenv("VEK_COM2"); }
    } env;
    // The port opened on the fallback while the adapter was away.
    rig.com.devices[2] = "/dev/vek-fallback";
    app.link.usPortNumber = 2;
    ASSERT_EQ(rig.com.OpenComConfig(2, "", 9600, platform::RS_PARITY_NONE, 8, 1, 512, -1), 0);

    press(PANEL_CONFIG_SER_PORT);
    const int rs = app.st.panelRs485;
    std::string device;
    panels.GetCtrlVal(rs, PANEL_2_DEVICE_PATH, device);
    EXPECT_EQ(device, "COM2 = /dev/vek-fallback");

    rig.com.CloseCom(2);
    panels.UserSetValue(rs, PANEL_2_COMPORT, 2);
    panels.GetCtrlVal(rs, PANEL_2_DEVICE_PATH, device);
    EXPECT_EQ(device, "COM2 = /nonexistent/vek-adapter (not present)");
}

TEST_F(Shell, SavedSettingsComeBackAfterARestartWithPortBaudAndParity)
{
    press(PANEL_CONFIG_SER_PORT);
    const int rs = app.st.panelRs485;
    panels.UserSetValue(rs, PANEL_2_COMPORT, 5);
    panels.UserSetValue(rs, PANEL_2_BAUD_RATE, 1);
    panels.UserSetValue(rs, PANEL_2_PARITY, 2);
    panels.PostEvent(rs, PANEL_2_SAVE_SETTINGS, EVENT_COMMIT);
    EXPECT_TRUE(rig.popups.popups.empty());

    AppRig restarted;  // same working directory, fresh program
    restarted.transmitter();
    restarted.tick();
    EXPECT_EQ(restarted.app.link.usPortNumber, 5);
    EXPECT_EQ(restarted.app.link.ulBaudRate, 1u);
    EXPECT_EQ(restarted.app.link.usParity, 2);
    ASSERT_FALSE(restarted.com.opens.empty());
    EXPECT_EQ(restarted.com.opens.back().port, 5);
    EXPECT_EQ(restarted.com.opens.back().baud, 19200);
    EXPECT_EQ(restarted.com.opens.back().parity, platform::RS_PARITY_ODD);
    EXPECT_EQ(restarted.com.frames.size(), 1u) << "the first tick already polls";

    // The settings window of the restarted program shows what was recalled.
    restarted.panels.PostEvent(restarted.app.st.panelMain, PANEL_CONFIG_SER_PORT, EVENT_COMMIT);
    int port = 0;
    restarted.panels.GetCtrlVal(restarted.app.st.panelRs485, PANEL_2_COMPORT, port);
    EXPECT_EQ(port, 5);
}

TEST_F(Shell, ASettingsFileThatCannotBeWrittenSaysSo)
{
    std::filesystem::create_directory("RS_Settings");  // a directory where the file should go
    press(PANEL_CONFIG_SER_PORT);
    panels.PostEvent(app.st.panelRs485, PANEL_2_SAVE_SETTINGS, EVENT_COMMIT);
    ASSERT_EQ(rig.popups.popups.size(), 1u);
    EXPECT_NE(rig.popups.popups[0].text.find("RS_Settings"), std::string::npos);
}
