// The network connection of the settings window: chosen, saved with "Save Settings",
// recalled after a restart and handed to the link's opening as its device name; settings
// files written before it existed read as they always did.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "app_rig.h"
#include "cwd_guard.h"
#include "link_switch.h"

using namespace vek;
using namespace vek::test;
using vek::platform::GatewayKind;
using vek::platform::TcpEndpoint;

namespace {

struct NetworkSettings : ::testing::Test {
    CwdGuard cwd;
    AppRig rig;
    ui::PanelModel& panels = rig.panels;
    App& app = rig.app;
    int openSettings()
    {
        panels.PostEvent(app.st.panelMain, PANEL_CONFIG_SER_PORT, EVENT_COMMIT);
        return app.st.panelRs485;
    }
    static std::string fileText()
    {
        std::ifstream in("RS_Settings");
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
};

struct Choice {
    const char* name;
    int kind;
    const char* host;
    int port;
    const char* deviceName;  // what the link is opened with
    const char* shown;       // the window's device line (nullptr: the serial port's)
};

void PrintTo(const Choice& c, std::ostream* os)
{
    *os << (c.shown ? c.shown : "the serial port");
}

class NetworkChoices : public NetworkSettings, public ::testing::WithParamInterface<Choice> {};

}  // namespace

TEST_P(NetworkChoices, ComeBackAfterARestartAndReachTheLinksOpening)
{
    const Choice& c = GetParam();
    const int rs = openSettings();
    panels.UserSetValue(rs, PANEL_2_COMPORT, 4);
    panels.UserSetValue(rs, PANEL_2_NET_HOST, std::string(c.host));
    panels.UserSetValue(rs, PANEL_2_NET_PORT, c.port);
    panels.UserSetValue(rs, PANEL_2_CONNECTION, c.kind);
    std::string shown;
    panels.GetCtrlVal(rs, PANEL_2_DEVICE_PATH, shown);
    // The serial port's line depends on the machine's devices: it is the one the serial
    // settings show.
    EXPECT_EQ(shown, c.shown ? std::string(c.shown) : DeviceTextOf(app.io.com, 4));
    panels.PostEvent(rs, PANEL_2_SAVE_SETTINGS, EVENT_COMMIT);
    ASSERT_TRUE(rig.popups.popups.empty());
    // The COM port stays in the keys an older program reads, whatever the connection.
    EXPECT_NE(fileText().find("Porta=4\n"), std::string::npos) << fileText();

    AppRig restarted;
    restarted.transmitter();
    restarted.tick();
    EXPECT_EQ(restarted.app.link.deviceName, c.deviceName);
    ASSERT_FALSE(restarted.com.openNames.empty());
    EXPECT_EQ(restarted.com.openNames.back(), c.deviceName);
    EXPECT_EQ(restarted.app.link.usPortNumber, 4);

    restarted.panels.PostEvent(restarted.app.st.panelMain, PANEL_CONFIG_SER_PORT, EVENT_COMMIT);
    const int rs2 = restarted.app.st.panelRs485;
    int kind = -1, port = 0;
    std::string host;
    restarted.panels.GetCtrlVal(rs2, PANEL_2_CONNECTION, kind);
    restarted.panels.GetCtrlVal(rs2, PANEL_2_NET_HOST, host);
    restarted.panels.GetCtrlVal(rs2, PANEL_2_NET_PORT, port);
    EXPECT_EQ(kind, c.kind);
    EXPECT_EQ(host, c.host);
    EXPECT_EQ(port, c.port);
}

INSTANTIATE_TEST_SUITE_P(
    Table, NetworkChoices,
    ::testing::Values(Choice{"SerialPort", 0, "gw.example", 5020, "", nullptr},
                      Choice{"RtuOverTcp", 1, "gw.example", 5020, "rtu-tcp://gw.example:5020",
                             "RTU over TCP to gw.example:5020"},
                      Choice{"ModbusTcpIpv6", 2, "fd00::17", 502, "modbus-tcp://[fd00::17]:502",
                             "Modbus TCP to [fd00::17]:502"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(NetworkSettings, AFileWrittenBeforeReadsAsTheSerialPortItNamedEvenAfterANetworkOne)
{
    const int rs = openSettings();
    panels.UserSetValue(rs, PANEL_2_NET_HOST, std::string("10.0.0.9"));
    panels.UserSetValue(rs, PANEL_2_CONNECTION, 2);
    panels.PostEvent(rs, PANEL_2_SAVE_SETTINGS, EVENT_COMMIT);
    ASSERT_TRUE(RecallSerialSettings(app));
    ASSERT_EQ(app.link.deviceName, "modbus-tcp://10.0.0.9:502");

    // What the settings window saved before network connections existed.
    std::ofstream("RS_Settings") << "[0]\nPARITY=1\nDATA_BITS=0\nBAUD_RATE=1\nBIT_STOP=0\nCOMPORT=3\nPorta=3\n";
    ASSERT_TRUE(RecallSerialSettings(app));
    EXPECT_EQ(app.link.deviceName, "");
    EXPECT_EQ(app.st.network.kind, 0);
    EXPECT_EQ(app.link.usPortNumber, 3);
    EXPECT_EQ(app.link.ulBaudRate, 1u);
    EXPECT_EQ(app.link.usParity, 1);
}

TEST_F(NetworkSettings, ANetworkConnectionWithoutAHostOrWithABadKindIsABrokenFile)
{
    openSettings();
    for (const char* text : {"[0]\nCOMPORT=1\nPorta=1\nCONNECTION=1\nNET_HOST=\nNET_PORT=502\n",
                             "[0]\nCOMPORT=1\nPorta=1\nCONNECTION=3\nNET_HOST=gw\nNET_PORT=502\n"}) {
        std::ofstream("RS_Settings") << text;
        EXPECT_FALSE(RecallSerialSettings(app)) << text;
    }
}

TEST_F(NetworkSettings, ANetworkConnectionWithNoComPortChosenStandsOnCom1)
{
    const int rs = openSettings();
    ASSERT_EQ(app.link.usPortNumber, 0);
    panels.UserSetValue(rs, PANEL_2_NET_HOST, std::string("gw"));
    panels.UserSetValue(rs, PANEL_2_CONNECTION, 1);
    EXPECT_EQ(app.link.usPortNumber, 1) << "a poll needs a port number to run";
    int ring = 0;
    panels.GetCtrlVal(rs, PANEL_2_COMPORT, ring);
    EXPECT_EQ(ring, 1);
    rig.transmitter();
    rig.tick();
    ASSERT_FALSE(rig.com.openNames.empty());
    EXPECT_EQ(rig.com.openNames.back(), "rtu-tcp://gw:502");
    // Back to the serial port: the next opening names no gateway.
    panels.UserSetValue(rs, PANEL_2_CONNECTION, 0);
    EXPECT_EQ(app.link.deviceName, "");
}

TEST(NetworkDeviceNames, RoundTripAndRefuseWhatNamesNoGateway)
{
    for (const TcpEndpoint& e : {TcpEndpoint{"gw.example", 5020, GatewayKind::RtuOverTcp},
                                 TcpEndpoint{"192.168.1.7", 502, GatewayKind::ModbusTcp},
                                 TcpEndpoint{"fe80::1", 1, GatewayKind::ModbusTcp}}) {
        const auto back = platform::ParseNetworkDeviceName(platform::NetworkDeviceName(e));
        ASSERT_TRUE(back) << platform::NetworkDeviceName(e);
        EXPECT_EQ(back->host, e.host);
        EXPECT_EQ(back->port, e.port);
        EXPECT_EQ(back->kind, e.kind);
    }
    for (const char* bad : {"", "/dev/ttyUSB0", "rtu-tcp://gw", "rtu-tcp://:502", "rtu-tcp://gw:0",
                            "rtu-tcp://gw:65536", "rtu-tcp://gw:50x", "modbus-tcp://[fe80::1:502", "tcp://gw:502"})
        EXPECT_FALSE(platform::ParseNetworkDeviceName(bad)) << bad;
}

TEST_F(NetworkSettings, ApplyReopensTheLinkOnTheGatewayChosenAndBackOnTheSerialPort)
{
    const int rs = openSettings();
    panels.UserSetValue(rs, PANEL_2_COMPORT, 2);
    panels.UserSetValue(rs, PANEL_2_NET_HOST, std::string("10.1.2.3"));
    panels.UserSetValue(rs, PANEL_2_NET_PORT, 4001);
    panels.UserSetValue(rs, PANEL_2_CONNECTION, 2);
    const std::size_t before = rig.com.openNames.size();
    panels.PostEvent(rs, PANEL_2_APPLY, EVENT_COMMIT);
    ASSERT_EQ(rig.com.openNames.size(), before + 1);
    EXPECT_EQ(rig.com.openNames.back(), "modbus-tcp://10.1.2.3:4001");
    EXPECT_EQ(rig.com.opens.back().port, 2);

    // Through the gateway the line settings are its own: greyed, and they take nothing.
    EXPECT_TRUE(panels.control(rs, PANEL_2_BAUD_RATE)->dimmed);
    EXPECT_TRUE(panels.control(rs, PANEL_2_PARITY)->dimmed);
    EXPECT_LT(panels.UserSetValue(rs, PANEL_2_PARITY, 1), 0);

    panels.UserSetValue(rs, PANEL_2_CONNECTION, 0);
    EXPECT_FALSE(panels.control(rs, PANEL_2_PARITY)->dimmed);
    panels.PostEvent(rs, PANEL_2_APPLY, EVENT_COMMIT);
    EXPECT_EQ(rig.com.openNames.back(), "");
    std::string shown;
    panels.GetCtrlVal(rs, PANEL_2_DEVICE_PATH, shown);
    EXPECT_EQ(shown, DeviceTextOf(rig.com, 2));
}
