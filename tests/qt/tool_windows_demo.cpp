// Fills the traffic and trend windows from the headless program polling a scripted
// transmitter (valid replies with a slowly moving level, and a few faults), and saves
// offscreen grabs of both: `tool_windows_demo DIR` writes DIR/traffic-window.png and
// DIR/trend-window.png (the README's pictures). Then it backs up a scripted transmitter's
// set-up, changes it, restores the backup with one register refused, and saves the compare
// window as DIR/compare-window.png. Not run by CTest.
#include <QApplication>
#include <QDir>
#include <QFile>

#include <cmath>
#include <ctime>

#include "app_rig.h"
#include "qt_tool_windows.h"
#include "register_map.h"
#include "setup_compare_window.h"
#include "traffic_window.h"
#include "trend_window.h"

using namespace vek;
using vek::test::AppRig;

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qapp(argc, argv);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();

    AppRig rig(std::time(nullptr) - 1200);
    rig.configurePort(1);
    rig.transmitter();
    auto scripted = rig.com.peer;
    for (int i = 0; i < 200; ++i) {
        const double level = 55 + 20 * std::sin(i / 30.0);
        rig.regs[0] = static_cast<std::uint16_t>(5000 - level * 40);
        rig.regs[1] = static_cast<std::uint16_t>(level * 40);
        rig.setFloat(3, static_cast<float>(level));
        rig.setFloat(5, static_cast<float>(18 + 0.02 * i));
        rig.setFloat(7, static_cast<float>(4 + 16 * level / 100));
        rig.regs[67] = 0x11;
        // A few faults near the end, so the table shows them beside the good rows.
        if (i == 193) {
            rig.com.peer = [&rig](int port, const AppRig::Bytes&) {
                AppRig::Bytes r = rig.pollReplyFrom(1);
                r.back() ^= 0x21;
                rig.com.inject(port, r);
            };
        } else if (i == 195) {
            rig.com.peer = [&rig](int port, const AppRig::Bytes&) {
                rig.com.inject(port, AppRig::withCrc({1, 0x83, 2}));
            };
        } else if (i == 197) {
            rig.com.peer = [&rig](int port, const AppRig::Bytes&) { rig.com.inject(port, {1, 3, 156, 0, 12}); };
        } else {
            rig.com.peer = scripted;
        }
        rig.tick();
        rig.clock.advanceTo(rig.clock.now() + 5.0);
    }

    tools::TrafficWindow traffic(rig.app.traffic);
    traffic.resize(1240, 420);
    traffic.show();
    tools::TrendWindow trend(rig.app.trend);
    trend.resize(1000, 560);
    trend.show();
    trend.showSeries(kLevelMm, false);
    trend.showSeries(kTemperature, true);
    QApplication::processEvents();
    bool ok = traffic.grab().save(dir + "/traffic-window.png") && trend.grab().save(dir + "/trend-window.png");

    // Back up, change, restore: a transmitter that will not take a new RL1 TH Value.
    AppRig setup(std::time(nullptr));
    tools::QtToolWindows windows(setup.app);
    setup.app.windows = &windows;
    setup.configurePort(1);
    setup.transmitter();
    auto& regs = setup.regs;
    regs[reg::kSensorType - 1] = 0x11;
    regs[reg::kUid - 1] = 1;
    regs[reg::kDistance4mA - 1] = 4800;
    regs[reg::kDistance20mA - 1] = 300;
    regs[reg::kBlindDistance - 1] = 250;
    regs[reg::kMedium - 1] = 4;
    regs[reg::kOutputSafeMode - 1] = 8;
    regs[reg::kRl1ThVal - 1] = 1200;
    regs[reg::kRl1ThEnable - 1] = 1;
    regs[reg::kDac4mA - 1] = 812;
    regs[reg::kDac20mA - 1] = 3950;
    regs[reg::kCyclesNum - 1] = 8;
    regs[reg::kFreqSetting - 1] = 40000;
    setup.setFloat(reg::kV0, 0.3313f);
    setup.setFloat(reg::kAlpha, 0.00183f);
    for (int i = 0; i < 8; ++i)
        regs[reg::kConfigIndex1 - 1 + i] = static_cast<std::uint16_t>("TANK-B07"[i]);
    const int adv = setup.openAdvanced();
    setup.popups.fileAnswer = (dir + "/compare-demo-backup.json").toStdString();
    setup.panels.PostEvent(adv, PANEL_3_BACKUP, EVENT_COMMIT);
    regs[reg::kMedium - 1] = 8;
    regs[reg::kRl1ThVal - 1] = 900;
    regs[reg::kDac4mA - 1] = 790;  // the unit's own calibration: offered, not ticked
    regs[reg::kCyclesNum - 1] = 12;
    regs[reg::kConfigIndex1 + 5 - 1] = 'C';
    setup.setFloat(reg::kV0, 0.3321f);
    setup.refused = {reg::kRl1ThVal};
    setup.popups.confirmAnswer = true;
    setup.panels.PostEvent(adv, PANEL_3_RESTORE, EVENT_COMMIT);
    if (qEnvironmentVariableIsEmpty("VEK_KEEP_BACKUP"))
        QFile::remove(QString::fromStdString(setup.popups.fileAnswer));
    tools::SetupCompareWindow* compare = windows.setupCompare();
    if (!compare)
        return 1;
    compare->setDifferencesOnly(false);
    compare->resize(900, 1012);
    QApplication::processEvents();
    ok = compare->grab().save(dir + "/compare-window.png") && ok;
    return ok ? 0 : 1;
}
