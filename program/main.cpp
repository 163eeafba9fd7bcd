// vek-modbus-rtu: the Modbus RTU master for one echo-ranging level or flow transmitter.
// Wires the real platform (Qt windows, POSIX serial ports and files, the real clock) to
// the application and runs its event loop.
#include <QApplication>
#include <QDir>
#include <QFileInfo>

#include <cstring>
#include <iostream>

#include "app_state.h"
#include "panel_model.h"
#include "posix_rs232.h"
#include "qt/event_loop.h"
#include "qt/qt_clock.h"
#include "qt/qt_panel_view.h"
#include "qt/qt_presenter.h"
#include "vek_app.h"

namespace {

// The resource sits beside the executable in the build tree, and under share/ once installed.
std::string resourceDir()
{
    const QString exeDir = QCoreApplication::applicationDirPath();
    for (const QString& dir : {exeDir, exeDir + "/../share/vek-modbus-rtu"})
        if (QFileInfo::exists(dir + "/" + vek::kResourceFile))
            return QDir(dir).absolutePath().toStdString();
    return exeDir.toStdString();
}

}  // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            std::cout << "Usage: vek-modbus-rtu\n"
                         "Modbus RTU master for an echo-ranging level or flow transmitter on RS-485.\n"
                         "It polls the transmitter every 5 s on the COM port chosen in \"RS485Settings\"\n"
                         "and keeps that choice in RS_Settings in the working directory.\n"
                         "COMn is $VEK_COMn when set, else /dev/ttyUSB<n-1> when present, else /dev/ttyS<n-1>.\n"
                         "Options: --help, --version\n";
            return 0;
        }
        if (!std::strcmp(argv[i], "--version")) {
            std::cout << "vek-modbus-rtu " << VEK_VERSION << '\n';
            return 0;
        }
    }
    QApplication qapp(argc, argv);
    vek::ui::qt::QtClock clock;
    vek::ui::PosixRs232 com;
    vek::ui::PosixFiles files;
    vek::ui::qt::QtPresenter popups;
    vek::ui::PanelModel panels(clock, {}, resourceDir());
    vek::ui::qt::QtPanelView view(panels);
    vek::ui::Platform platform{panels, com, clock, files, popups};
    vek::App app(platform);
    panels.setCallbacks(vek::MakeCallbackRegistry(app));
    app.quit = [](int code) { vek::ui::qt::QuitUserInterface(code); };
    if (vek::StartUp(app) < 0) {
        std::cerr << "vek-modbus-rtu: cannot load its panels from " << vek::kResourceFile
                  << " (looked beside the program and in its share folder)\n";
        return -1;
    }
    return vek::ui::qt::RunUserInterface(panels, qapp, &view);
}
