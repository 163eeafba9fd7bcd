// The two outside services an exchange needs: the serial port and the clock that times its
// waits. Nothing else of the program reaches the link.
#pragma once
#include "clock.h"
#include "rs232.h"

namespace vek {

struct MasterIo {
    platform::Rs232& com;
    platform::Clock& clock;
};

}  // namespace vek
