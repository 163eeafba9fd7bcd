// The program through an Ethernet gateway: the simulator serves TCP on 127.0.0.1 as a
// gateway of either kind, the user sets the network connection up in the RS485 Settings
// window, and the polls are valid, also when the gateway drops the connection after every
// reply (the next poll connects again); the traffic monitor shows the frames in the
// gateway's framing, and Find Transmitter scans the gateway and hands its find to the polls.
#include <QComboBox>
#include <QProcess>
#include <QPushButton>
#include <QTableWidget>
#include <QLabel>
#include <QTest>

#include "find_window.h"
#include "harness.h"
#include "vek_app.h"

namespace vek::e2e {
namespace {

// The simulator as a gateway on a free port of 127.0.0.1, logging to `logPath`.
class GatewaySim {
public:
    GatewaySim(const char* kind, const std::string& logPath, const QStringList& options) : log_(logPath)
    {
        QStringList args{"--tcp", "0", "--tcp-kind", kind, "--log", QString::fromStdString(logPath)};
        args += options;
        where_ = StartSimulatorProcess(proc_, args);
    }
    ~GatewaySim()
    {
        if (proc_.state() == QProcess::Running) {
            proc_.terminate();
            proc_.waitForFinished(5000);
        }
    }
    bool started() const { return where_.contains(':'); }
    QString host() const { return where_.left(where_.lastIndexOf(':')); }
    QString port() const { return where_.mid(where_.lastIndexOf(':') + 1); }
    SimLog& log() { return log_; }
    QString diagnostics() const { return proc_.arguments().join(' ') + ": " + proc_.readAllStandardError(); }

private:
    mutable QProcess proc_;
    QString where_;
    SimLog log_;
};

struct Kind {
    const char* name;
    const char* arg;    // the simulator's --tcp-kind
    const char* label;  // the Connection ring's item
};

void PrintTo(const Kind& k, std::ostream* os) { *os << k.label; }

class Gateway : public ::testing::TestWithParam<Kind> {};

}  // namespace

TEST_P(Gateway, SetUpInTheSettingsWindowPollsThroughDropsAndFindsItsTransmitter)
{
    Workspace ws;
    GatewaySim sim(GetParam().arg, ws.path("sim.log"), {"--seed", "3", "--close-after", "1"});
    ASSERT_TRUE(sim.started()) << sim.diagnostics().toStdString();

    RunningProgram p;
    p.click(p.main(), "CONFIG_SER_PORT");
    const int ser = p.app().st.panelRs485;
    ASSERT_TRUE(p.shown(ser));
    p.typeAndEnter(ser, "NET_HOST", sim.host());
    p.typeAndEnter(ser, "NET_PORT", sim.port());
    p.pickRingItem(ser, "CONNECTION", GetParam().label);
    EXPECT_EQ(p.text(ser, "DEVICE_PATH"),
              QString(GetParam().label) + " to " + sim.host() + ":" + sim.port());
    p.click(ser, "SAVE_SETTINGS");
    EXPECT_TRUE(p.popups().empty());
    p.click(ser, "EXIT");

    // The gateway closes the connection after each reply: every poll connects anew, and
    // every one is valid.
    ASSERT_TRUE(p.waitForPolls(2, 15000)) << p.message().toStdString();
    EXPECT_EQ(p.validReplies(), p.polls()) << p.message().toStdString();
    EXPECT_EQ(p.message(), "");
    EXPECT_FALSE(p.lamp());
    EXPECT_GE(sim.log().events("connect").size(), 2u);
    // The simulator saw the program's poll, whatever the framing on the wire.
    ASSERT_FALSE(sim.log().requests().empty());
    EXPECT_EQ(hexOf(sim.log().requests().front().bytes), kPollFrameHex);
    EXPECT_NE(ws.read("RS_Settings").find("NET_PORT=" + sim.port().toStdString()), std::string::npos);
    // The traffic monitor shows the frames as the gateway got them.
    const TrafficRecorder& traffic = p.app().traffic;
    ASSERT_GE(traffic.size(), 2u);
    const TrafficFrame& request = traffic.at(traffic.firstSeq());
    EXPECT_EQ(request.mbap, std::string(GetParam().arg) == "mbap");
    EXPECT_EQ(request.bytes.size(), request.mbap ? 12u : 8u);

    // Find Transmitter scans the gateway; its saved address goes first, and Use polls it.
    p.click(p.main(), "CONFIG_SER_PORT");
    p.click(p.app().st.panelRs485, "FIND_TRANSMITTER");
    tools::FindWindow* w = p.program().tools().find();
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->portChoice()->currentText().startsWith("The gateway: ")) << w->portChoice()->currentText().toStdString();
    QTest::mouseClick(w->startButton(), Qt::LeftButton);
    ASSERT_TRUE(runEventsUntil([&] { return w->table()->rowCount() > 0; }, 5000)) << w->status()->text().toStdString();
    EXPECT_EQ(w->table()->item(0, 0)->text(), "Gateway");
    EXPECT_EQ(w->table()->item(0, 4)->text(), "1");
    w->table()->selectRow(0);
    QTest::mouseClick(w->useButton(), Qt::LeftButton);
    EXPECT_TRUE(runEventsUntil([&] { return !p.app().scan.running(); }, 2000)) << "Use ends the scan";
    const int valid = p.validReplies();
    ASSERT_TRUE(runEventsUntil([&] { return p.validReplies() > valid; }, 9000)) << p.message().toStdString();
    EXPECT_EQ(p.app().st.network.kind, std::string(GetParam().arg) == "mbap" ? 2 : 1);
}

INSTANTIATE_TEST_SUITE_P(Kinds, Gateway,
                         ::testing::Values(Kind{"RtuOverTcp", "rtu", "RTU over TCP"},
                                           Kind{"ModbusTcp", "mbap", "Modbus TCP"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace vek::e2e
