// Records one exchange (the request and what came of it) in the app's traffic recorder.
#pragma once
#include "app_state.h"
#include "mb_rtu_master.h"

namespace vek {

// `sentAt` is WallNow when the exchange began; `portFailed` says the port could not be
// opened, which is what the program showed for a failed reply.
void RecordExchange(App& app, double sentAt, const RtuResult& result, bool portFailed);

}  // namespace vek
