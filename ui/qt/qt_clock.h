// The program's clock when it has windows: a Delay keeps them alive.
#pragma once

#include "clock.h"

namespace vek::ui::qt {

// Delay runs a local event loop until the time is up, so windows repaint during a wait of
// the link and take mouse and keys at once; what those ask of the program waits in the panel
// model's queue until the waiting callback has ended. No other callback or timer tick starts
// meanwhile.
// The loop sleeps in the window system's wait, never spinning a core. Without a
// QCoreApplication it sleeps plainly.
class QtClock : public platform::SleepClock {
public:
    void Delay(double seconds) override;
};

}  // namespace vek::ui::qt
