// vek-modbus-rtu: the Modbus RTU master for one echo-ranging level or flow transmitter.
#include <QApplication>
#ifdef _WIN32
#include <QDir>
#include <QStandardPaths>
#endif

#include <cstring>
#include <iostream>

#include "program.h"

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            std::cout << "Usage: vek-modbus-rtu [--help | --version]\n"
                         "Modbus RTU master for an echo-ranging level or flow transmitter on RS-485.\n"
                         "It polls the transmitter every 6 s (a 5 s timer, then the 1 s wait for the reply)\n"
                         "on the COM port chosen in \"RS485Settings\" and keeps that choice in RS_Settings\n"
                         "in the working directory.\n"
#ifdef _WIN32
                         "(on Windows the working directory is Documents\\VEK Modbus RTU).\n"
                         "COMn is $VEK_COMn when set, else the Windows port COMn.\n";
#else
                         "COMn is $VEK_COMn when set, else /dev/ttyUSB<n-1> when present, else /dev/ttyS<n-1>.\n";
#endif
            return 0;
        }
        if (!std::strcmp(argv[i], "--version")) {
            std::cout << "vek-modbus-rtu " << VEK_VERSION << '\n';
            return 0;
        }
        std::cerr << "vek-modbus-rtu: unknown option " << argv[i] << " (try --help)\n";
        return 2;
    }
    QApplication qapp(argc, argv);
#ifdef _WIN32
    // A Start-menu shortcut starts the program in its installation folder, which a user may
    // not write to: the settings file and the logs named without a folder go to a folder of
    // the user's own documents instead, the working directory from now on.
    if (const QString docs = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation); !docs.isEmpty()) {
        const QString own = QDir(docs).filePath("VEK Modbus RTU");
        if (QDir().mkpath(own))
            QDir::setCurrent(own);
    }
#endif
    vek::Program program(vek::Program::defaultResourceDir());
    if (program.start() < 0) {
        std::cerr << "vek-modbus-rtu: cannot load its windows from Panel_def.uir "
                     "(looked beside the program and in its share folder)\n";
        if (const std::string& why = program.panels().loadError(); !why.empty())
            std::cerr << "vek-modbus-rtu: " << why << '\n';
        return -1;
    }
    return program.run(qapp);
}
