#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "serial/port_state.h"
#include "transfer/outcome.h"

namespace zq {

// The stage as a sentence says it ("the programming"); progress lines use the short labels of
// the printers.
std::string stageInWords(std::optional<OperationStage> stage);

// What the failure behind an operation's error box was, in one line, from its outcome: the
// system's reason for the port call that failed when one did (naming `device`), otherwise what
// the board did or did not answer. Empty when there is nothing to add.
std::string explainOutcome(const Outcome& outcome, std::string_view device);

// The line after a close that failed.
std::string explainCloseFailure(const Outcome& outcome, std::string_view device);

// The --latency advice that fits the outcome: a reply that came late, or in parts; empty when
// the outcome does not point at the adapter's timing.
std::string latencyAdvice(const Outcome& outcome);

}  // namespace zq
