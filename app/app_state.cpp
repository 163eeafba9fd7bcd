#include "app_state.h"

namespace vek {

void Init_Vars(App& app)
{
    // A fresh record holds every default; the port number (0) and the panel handles are
    // what start-up finds anyway.
    app.st = AppState{};
    app.link = LinkState{};
    app.link.slaveAddress = app.st.m.deviceUid;
}

}  // namespace vek
