// Back up the set-up from the simulator, change it, and restore it: the frames that reach
// the transmitter, what it holds afterwards, and a register it refuses reported as such; on
// a serial line and through both kinds of Ethernet gateway.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTableWidget>

#include "harness.h"
#include "qt_tool_windows.h"
#include "setup_backup.h"
#include "setup_compare_window.h"

namespace vek::e2e {
namespace {

// How the program reaches the transmitter: 0 a serial line, 1 RTU over TCP, 2 Modbus TCP.
class BackUpAndRestore : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override
    {
        // Register 70 (RL1 TH Value) will not be written; the image stands still.
        const QStringList options{"--seed", "5", "--static", "--refuse-write", "70"};
        if (GetParam() == 0) {
            ws.writeSettingsForCom1();
            sim = std::make_unique<Simulator>(ws.linkPath(), ws.path("sim.log"), options);
        } else {
            sim = std::make_unique<Simulator>(Simulator::Gateway(GetParam() == 2 ? "mbap" : "rtu"), ws.path("sim.log"),
                                              options);
            ws.write("RS_Settings", "[0]\nCOMPORT=1\nPorta=1\nCONNECTION=" + std::to_string(GetParam()) +
                                        "\nNET_HOST=" + sim->host().toStdString() +
                                        "\nNET_PORT=" + sim->port().toStdString() + "\n");
        }
        ASSERT_TRUE(sim->started()) << sim->diagnostics().toStdString();
        p = std::make_unique<RunningProgram>();
        ASSERT_TRUE(p->waitForPolls(1, 9000));
    }
    void TearDown() override
    {
        p.reset();
        sim.reset();
    }
    std::vector<std::pair<int, int>> writesDone() const
    {
        std::vector<std::pair<int, int>> out;
        for (const auto& e : sim->log().events("write"))
            out.emplace_back(e.reg, e.value);
        return out;
    }
    // The latest reply that carried all 78 registers (a poll or a restore's readback).
    Registers lastReply() const
    {
        const auto replies = sim->log().replies();
        for (auto it = replies.rbegin(); it != replies.rend(); ++it)
            if (it->bytes.size() == 161)
                return Registers(it->bytes);
        return Registers(Bytes(161));
    }

    Workspace ws;
    std::unique_ptr<Simulator> sim;
    std::unique_ptr<RunningProgram> p;
};

TEST_P(BackUpAndRestore, ABackupRestoresWhatChangedAndARefusedRegisterIsReported)
{
    p->click(p->main(), "SET_UP_UT");
    const int user = p->app().st.panelUser;
    ASSERT_TRUE(p->shown(user));
    const std::string file = ws.path("setup.json");
    p->presenter().fileAnswer = file;
    p->click(user, "BACKUP");
    ASSERT_TRUE(p->waitForLinkIdle());
    std::string why;
    auto backup = ParseSetupBackup(ws.read("setup.json"), why);
    ASSERT_TRUE(backup) << why;
    const Registers before = lastReply();
    EXPECT_EQ(backup->words.at(44), before.reg(44));
    EXPECT_EQ(backup->words.at(70), before.reg(70));
    EXPECT_EQ(backup->words.at(19), before.reg(19)) << "V0's low word";
    EXPECT_EQ(backup->modelCode, before.reg(68));

    // The transmitter changes (the medium), and the backup is made to want another RL1 TH Value.
    const int medium = before.reg(44);
    p->choose(user, "MEDIUM", medium == 8 ? "Solid" : "Liquid Pipe");
    ASSERT_TRUE(p->waitForLinkIdle());
    QJsonObject doc = QJsonDocument::fromJson(QByteArray::fromStdString(ws.read("setup.json"))).object();
    QJsonArray regs = doc["registers"].toArray();
    for (int i = 0; i < regs.size(); ++i) {
        QJsonObject r = regs[i].toObject();
        if (r["register"].toInt() == 70) {
            r["value"] = before.reg(70) + 100;
            regs[i] = r;
        }
    }
    doc["registers"] = regs;
    ws.write("setup.json", QJsonDocument(doc).toJson().toStdString());

    p->presenter().confirmAnswer = true;
    p->click(user, "RESTORE");
    ASSERT_TRUE(p->waitForLinkIdle());
    const auto writes = writesDone();
    ASSERT_EQ(writes.size(), 2u) << "the medium chosen, then restored; 70 refused";
    EXPECT_EQ(writes.back(), std::make_pair(44, medium));
    EXPECT_EQ(lastReply().reg(44), medium) << "the readback saw it";
    EXPECT_EQ(lastReply().reg(70), before.reg(70));
    EXPECT_NE(p->popups().back().text.find("1 of 2 registers restored"), std::string::npos) << p->popups().back().text;

    auto* window = p->program().tools().setupCompare();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    QTableWidget& t = window->table();
    QString refused;
    for (int r = 0; r < t.rowCount(); ++r)
        if (t.item(r, 0)->text() == "70")
            refused = t.item(r, 5)->text();
    EXPECT_EQ(refused, "refused: exception 4 (Slave device failure)");
}

INSTANTIATE_TEST_SUITE_P(Links, BackUpAndRestore, ::testing::Values(0, 1, 2), [](const auto& info) {
    return std::string(info.param == 0 ? "SerialLine" : info.param == 1 ? "RtuOverTcp" : "ModbusTcp");
});

}  // namespace
}  // namespace vek::e2e
