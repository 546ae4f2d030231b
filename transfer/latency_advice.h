#pragma once

#include "transfer/outcome.h"

namespace zq {

// The latency (ms added to every read) that would have let the operation read its replies: a
// reply that came late, or in parts as USB serial adapters send small replies; 0 when the outcome
// does not point at the adapter's timing.
unsigned advisedLatency(const Outcome& outcome);

// The board took the handshake's tries while its replies were still on their way: it may answer
// out of step from then on, whatever the host allows, until it is power-cycled.
bool mayBeOutOfStep(const Outcome& outcome);

}  // namespace zq
