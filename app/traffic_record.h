// Records one exchange (the request and what came of it) in the app's traffic recorder.
#pragma once
#include "app_state.h"
#include "mb_outcome.h"

namespace vek {

// `sentAt` is WallNow when the exchange began; `portFailed` says the port could not be
// opened, which is what the program showed for a failed reply.
void RecordExchange(App& app, double sentAt, const ExchangeOutcome& outcome, bool portFailed);

}  // namespace vek
