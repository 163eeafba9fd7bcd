// The whole program headless for the real-time benchmarks: panel model with its real
// callbacks, the program's link (the POSIX serial port, or a gateway when the settings name
// one), the plain clock and real files, with the saved settings COM1, 9600 baud, no parity,
// slave 1 (COM1 is what VEK_COM1 names).
#pragma once
#include <cstdio>
#include <cstdlib>

#include "app_state.h"
#include "files.h"
#include "link_switch.h"
#include "panel_model.h"
#include "posix_rs232.h"
#include "presenter.h"
#include "vek_app.h"

namespace vek::bench {

struct Headless {
    platform::SleepClock clock;
    platform::PosixRs232 serial;
    platform::LinkSwitch com{serial};
    ui::RecordingPresenter popups;
    platform::PosixFiles files;
    ui::PanelModel panels{clock, {}, VEK_BINARY_DIR};
    Services io{panels, com, clock, files, popups};
    App app{io};

    Headless()
    {
        panels.setCallbacks(MakeCallbackRegistry(app));
        if (StartUp(app) != 0) {
            std::fprintf(stderr, "cannot load the panels from %s\n", VEK_BINARY_DIR);
            std::exit(1);
        }
        // The saved settings: COM1, 9600 baud, no parity, slave 1.
        app.link.usPortNumber = 1;
        app.link.ulBaudRate = 0;
        app.link.usParity = 0;
        app.link.ucMBFlag = 1;
        app.link.slaveAddress = 1;
    }
};

}  // namespace vek::bench
