// Runs a scan in the Find Transmitter window against the headless program with two
// scripted transmitters at 19200 baud, even parity (and a damaged reply at a third address),
// stops part way and saves an offscreen grab: `find_window_demo DIR` writes
// DIR/find-window.png (the README's picture). Not run by CTest.
#include <QApplication>
#include <QDir>
#include <QTableWidget>

#include "app_rig.h"
#include "find_window.h"

using namespace vek;
using vek::test::AppRig;

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qapp(argc, argv);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();

    AppRig rig;
    rig.configurePort(1);
    rig.com.peer = [&rig](int port, const AppRig::Bytes& f) {
        const auto& open = rig.com.opens.back();
        if (f.size() != 8 || f[1] != 3 || f[5] != 1 || open.baud != 19200 || open.parity != platform::RS_PARITY_EVEN)
            return;
        AppRig::Bytes r;
        if (f[0] == 1)
            r = AppRig::withCrc({1, 3, 2, 0, 0x11});
        else if (f[0] == 12)
            r = AppRig::withCrc({12, 3, 2, 0, 0x42});
        else if (f[0] == 30) {
            r = AppRig::withCrc({30, 3, 2, 0, 0x11});
            r[4] ^= 0x40;
        }
        if (!r.empty())
            rig.com.injectAfter(port, 0.01, r);
    };

    // COM1 is open on a USB adapter in the picture, whatever this machine has.
    rig.com.devices[1] = "/dev/ttyUSB0";
    rig.com.OpenComConfig(1, "", 9600, platform::RS_PARITY_NONE, 8, 1, 512, -1);
    tools::FindWindow w(rig.app);
    w.show();
    w.setPortChoice(1);
    w.start();
    while (rig.app.scan.running() && rig.app.scan.done() < 1075)
        QApplication::processEvents();
    w.table()->selectRow(1);
    QApplication::processEvents();
    return w.grab().save(dir + "/find-window.png") ? 0 : 1;
}
