#include "app_state.h"

#include "job.h"

namespace vek {

App::App(Services& services) : io(services)
{
    previousJobError_ = std::move(Job::onError);
    Job::onError = [this](std::exception_ptr e) {
        try {
            std::rethrow_exception(e);
        } catch (const std::exception& x) {
            io.panels.ReportInternalError(x.what(), "work waiting for the line");
        } catch (...) {
            io.panels.ReportInternalError("an exception of unknown type", "work waiting for the line");
        }
    };
}

App::~App() { Job::onError = std::move(previousJobError_); }

void Init_Vars(App& app)
{
    // A fresh record holds every default; the port number (0) and the panel handles are
    // what start-up finds anyway.
    app.st = AppState{};
    app.link = LinkState{};
    app.link.slaveAddress = app.st.m.deviceUid;
}

}  // namespace vek
