// Find Transmitter in the real program against the simulator on a pseudo-terminal: opened
// from the RS485 Settings window, it finds the transmitter the saved settings miss, "Use"
// makes the program poll it and saves its settings, and nothing but probes goes on the line
// while it scans. A pseudo-terminal carries speed but no parity, so with --check-baud the
// simulator ignores probes at the wrong baud rate but answers at every parity.
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include "find_window.h"
#include "harness.h"
#include "vek_app.h"

namespace vek::e2e {
namespace {

bool foundAt(const App& app, int address, int baud)
{
    for (const ScanFind& f : app.scan.finds())
        if (f.kind == ScanFindKind::Transmitter && f.at.address == address && f.at.baud == baud)
            return true;
    return false;
}

tools::FindWindow* openFindWindow(RunningProgram& p)
{
    p.click(p.main(), "CONFIG_SER_PORT");
    const int ser = p.app().st.panelRs485;
    EXPECT_TRUE(p.shown(ser));
    p.click(ser, "FIND_TRANSMITTER");
    tools::FindWindow* w = p.program().tools().find();
    EXPECT_NE(w, nullptr);
    if (w) {
        EXPECT_TRUE(w->isVisible());
    }
    return w;
}

std::size_t pollsIn(const std::vector<LogEntry>& requests)
{
    std::size_t n = 0;
    for (const LogEntry& e : requests)
        n += e.bytes.size() == 8 && e.bytes[1] == 3 && e.bytes[5] == 78;
    return n;
}

}  // namespace

TEST(FindTransmitter, FindsAddress1AtAnotherBaudRateAndUseMakesTheProgramPollItAndSavesIt)
{
    Workspace ws;
    ws.writeSettingsForCom1();  // 9600 baud: the transmitter is at 19200
    Simulator sim(ws.linkPath(), ws.path("sim.log"), {"--seed", "3", "--baud", "19200", "--check-baud", "--static"});
    ASSERT_TRUE(sim.started()) << sim.diagnostics().toStdString();
    sim.expectIgnoredFrames();
    RunningProgram p;
    ASSERT_TRUE(p.waitForPolls(1, 9000));
    EXPECT_EQ(p.message(), "-NO RESPONSE-");

    tools::FindWindow* w = openFindWindow(p);
    ASSERT_NE(w, nullptr);
    w->setPortChoice(1);
    QTest::mouseClick(w->startButton(), Qt::LeftButton);
    ASSERT_TRUE(runEventsUntil([&] { return foundAt(p.app(), 1, 1); }, 20000)) << w->status()->text().toStdString();
    EXPECT_TRUE(p.app().scan.running());
    EXPECT_EQ(p.message(), kMsgScanning);
    // The window lists it at once.
    ASSERT_GE(w->table()->rowCount(), 1);
    int row = -1;
    for (int r = 0; r < w->table()->rowCount(); ++r)
        if (w->table()->item(r, 2)->text() == "19200" && w->table()->item(r, 4)->text() == "1")
            row = r;
    ASSERT_GE(row, 0);
    EXPECT_EQ(w->table()->item(row, 1)->text().toStdString(), ws.linkPath()) << "the device COM1 stands for";
    EXPECT_EQ(w->table()->item(row, 5)->text(), "Gauge 5m (model code 17)");

    w->table()->selectRow(row);
    ASSERT_TRUE(w->useButton()->isEnabled());
    QTest::mouseClick(w->useButton(), Qt::LeftButton);
    // The probe under way ends first.
    EXPECT_TRUE(runEventsUntil([&] { return !p.app().scan.running(); }, 2000)) << "Use ends the scan";
    EXPECT_EQ(p.text(p.app().st.panelRs485, "BAUD_RATE"), "19200");
    EXPECT_NE(ws.read("RS_Settings").find("BAUD_RATE=1"), std::string::npos) << ws.read("RS_Settings");
    const int valid = p.validReplies();
    ASSERT_TRUE(runEventsUntil([&] { return p.validReplies() > valid; }, 9000)) << p.message().toStdString();
    EXPECT_EQ(p.message(), "");
}

TEST(FindTransmitter, FindsTwoTransmittersOnOneLineAndNoPollInterleavesWithTheProbes)
{
    Workspace ws;
    // Saved at the transmitters' own line setting: the rest of the addresses are tried there first.
    ws.write("RS_Settings", "[0]\nCOMPORT=1\nPorta=1\nBAUD_RATE=1\nPARITY=2\n");
    Simulator sim(ws.linkPath(), ws.path("sim.log"),
                  {"--seed", "4", "--baud", "19200", "--parity", "odd", "--slave", "5", "--second-slave", "12",
                   "--check-baud", "--static"});
    ASSERT_TRUE(sim.started()) << sim.diagnostics().toStdString();
    sim.expectIgnoredFrames();
    RunningProgram p;
    tools::FindWindow* w = openFindWindow(p);
    ASSERT_NE(w, nullptr);
    w->setPortChoice(1);
    const std::size_t pollsBefore = pollsIn(sim.log().requests());
    QTest::mouseClick(w->startButton(), Qt::LeftButton);
    ASSERT_TRUE(runEventsUntil([&] { return foundAt(p.app(), 5, 1) && foundAt(p.app(), 12, 1); }, 30000))
        << w->status()->text().toStdString();
    // Past two poll periods: the polling stayed paused.
    runEventsFor(5500);
    EXPECT_EQ(pollsIn(sim.log().requests()), pollsBefore) << "no poll during the scan";
    QTest::mouseClick(w->cancelButton(), Qt::LeftButton);
    EXPECT_TRUE(runEventsUntil([&] { return !p.app().scan.running(); }, 2000)) << "after the probe under way";
    EXPECT_TRUE(w->status()->text().startsWith("Cancelled after")) << w->status()->text().toStdString();
    // Each probe is the read of register 68 and nothing else.
    for (const LogEntry& e : sim.log().requests())
        if (e.bytes.size() == 8 && e.bytes[5] == 1) {
            EXPECT_EQ(e.bytes[3], 67);
        }
    // The program polls again on its saved settings; slave 1 is not there.
    const int polls = p.polls();
    ASSERT_TRUE(p.waitForPolls(polls + 1, 9000));
    EXPECT_EQ(p.message(), "-NO RESPONSE-");
}

}  // namespace vek::e2e
