// Live values and the data logger against the simulator: what the main window shows is
// what the transmitter sent, poll after poll, and the log rows carry the same numbers.
#include <QDateTime>
#include <QRegularExpression>

#include "harness.h"

namespace vek::e2e {
namespace {

QString onOff(int state) { return state == 1 ? "ON" : "OFF"; }

TEST(Monitoring, TheMainWindowShowsEveryReplyOfTheLivingTransmitterDecodedAndPollsLeaveAbout6SecondsApart)
{
    Workspace ws;
    ws.writeSettingsForCom1();
    Simulator sim(ws.linkPath(), ws.path("sim.log"), {"--seed", "7", "--warnings", "gain"});
    ASSERT_TRUE(sim.started()) << sim.diagnostics().toStdString();
    RunningProgram p;
    const int main = p.main();

    EXPECT_EQ(p.text(main, "N_POLLS"), "0");
    EXPECT_EQ(p.text(main, "N_VALID_RESP"), "0");
    EXPECT_EQ(p.text(main, "NUMERIC"), "0.0");

    std::vector<ShownMeasurements> shown;
    for (int n = 1; n <= 3; ++n) {
        SCOPED_TRACE("poll " + std::to_string(n));
        ASSERT_TRUE(p.waitForPolls(n, 9000)) << "Polls shows " << p.polls();
        const auto replies = sim.log().replies();
        ASSERT_EQ(replies.size(), static_cast<std::size_t>(n));
        const Registers r(replies.back().bytes);
        shown.push_back(shownOnMain(p));
        EXPECT_EQ(shown.back(), expectedFrom(r));
        EXPECT_EQ(p.text(main, "DISTANCE_4MA"), QString::number(r.reg(11)));
        EXPECT_EQ(p.text(main, "DISTANCE_20MA"), QString::number(r.reg(12)));
        EXPECT_EQ(p.text(main, "BLIND_DISTANCE"), QString::number(r.reg(15)));
        EXPECT_EQ(p.text(main, "UID"), QString::number(r.reg(25)));
        EXPECT_EQ(p.text(main, "MEASURE_STATUS"), QString::number(r.reg(54)));
        EXPECT_EQ(p.lit(main, "RL1_LED"), r.reg(60) == 1);
        EXPECT_EQ(p.lit(main, "RL2_LED"), r.reg(61) == 1);
        EXPECT_EQ(p.text(main, "SENSOR"), "Gauge 5m");  // model code 0x11
        EXPECT_EQ(p.text(main, "ERROR_MSG"), "-GAIN-");
        EXPECT_TRUE(p.lit(main, "ERROR_MSG_LED"));
        EXPECT_EQ(p.message(), "");
        EXPECT_FALSE(p.lamp());
        EXPECT_EQ(p.polls(), n);
        EXPECT_EQ(p.validReplies(), n);
        EXPECT_EQ(p.text(main, "NUMERIC"), "100.0");
    }
    // The tank moves between polls, so a window stuck on an old reply would show here.
    EXPECT_NE(shown.front().distance, shown.back().distance);

    const auto requests = sim.log().requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(hexOf(withCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x4E})), kPollFrameHex);
    for (const auto& rq : requests)
        EXPECT_EQ(hexOf(rq.bytes), kPollFrameHex);
    // 5 s from the end of one cycle to the next tick, plus the 1 s reply wait.
    for (std::size_t i = 1; i < requests.size(); ++i) {
        const double gap = requests[i].t - requests[i - 1].t;
        std::printf("poll spacing %zu: %.3f s\n", i, gap);
        EXPECT_GT(gap, 5.5);
        EXPECT_LT(gap, 7.5);
    }
}

TEST(DataLogger, EveryValidPollWritesARowWithTheTransmittersNumbers)
{
    Workspace ws;
    ws.writeSettingsForCom1();
    ws.write("image.json", R"({"registers": {"1": 1234, "2": 3456, "54": 2, "60": 1, "61": 0},
                               "floats": {"3": 42.5, "5": 21.3, "7": 12.8}})");
    Simulator sim(ws.linkPath(), ws.path("sim.log"),
                  {"--static", "--image", QString::fromStdString(ws.path("image.json"))});
    ASSERT_TRUE(sim.started()) << sim.diagnostics().toStdString();
    RunningProgram p;

    p.click(p.main(), "LOGGER");
    const int log = p.app().st.panelDataLog;
    ASSERT_TRUE(p.shown(log));
    EXPECT_EQ(p.text(log, "FILE_NAME"), ".xls");
    const std::string file = ws.path("tank.xls");
    p.type(log, "FILE_NAME", QString::fromStdString(file));
    p.click(log, "OPEN_CREATE_FILE");
    p.click(log, "WRITE_FILE");
    EXPECT_TRUE(p.popups().empty());

    ASSERT_TRUE(p.waitForPolls(2, 15000));
    ASSERT_EQ(p.validReplies(), 2);
    EXPECT_EQ(p.text(log, "DATALOG_MSG"), "Writing file");

    const std::string text = ws.read("tank.xls");
    const std::string header =
        "Date\tTime\tDist[mm]\tLevel[mm]\tLevel[%]\tTemp[\xB0"
        "C]\tOutput[mA]\tMeasure status\tRL1 Status\tRL2 Status\n";
    ASSERT_EQ(text.substr(0, header.size()), header);
    const QStringList rows = QString::fromLatin1(text.substr(header.size())).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(rows.size(), 2) << text;
    EXPECT_EQ(text.back(), '\n');
    EXPECT_EQ(text.find('\r'), std::string::npos);

    const QRegularExpression stamp(R"(^(\d\d-\d\d-\d\d\d\d)\t(\d\d:\d\d:\d\d)\t(.*)$)");
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const QString& row : rows) {
        SCOPED_TRACE(row.toStdString());
        const auto m = stamp.match(row);
        ASSERT_TRUE(m.hasMatch());
        const QDateTime when = QDateTime::fromString(m.captured(1) + " " + m.captured(2), "MM-dd-yyyy HH:mm:ss");
        ASSERT_TRUE(when.isValid());
        EXPECT_LT(std::abs(QDateTime(when.date(), when.time(), Qt::UTC).secsTo(now)), 60);
        // Exactly the image's numbers in the row's columns: %5d distance and level, one
        // decimal for the floats, %4d status, relay texts.
        EXPECT_EQ(m.captured(3), " 1234\t 3456\t42.5\t21.3\t12.8\t   2\t" + onOff(1) + "\t" + onOff(0));
    }
}

}  // namespace
}  // namespace vek::e2e
