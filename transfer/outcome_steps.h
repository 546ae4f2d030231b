#pragma once

#include <string_view>

#include "owner/owner_window.h"
#include "serial/port_state.h"
#include "transfer/outcome.h"

namespace zq {

// The steps every phase takes the same way, each keeping the outcome in step with the boxes.

// Enters a stage: the window hears of it and the outcome knows how far the operation got.
void enterStage(OwnerWindow& window, Outcome& outcome, OperationStage stage);

// Sets what ended the operation: Interrupted, whatever else it was, once a signal has ended it.
void settle(Outcome& outcome, OutcomeKind kind, Step step);
// The same when a port call failed: the port's reason for it goes with the outcome.
// A device that went away makes it BoardGone, whatever the call.
void settleOnFault(Outcome& outcome, OutcomeKind kind, Step step, const PortState& port);
void settleOnFault(Outcome& outcome, OutcomeKind kind, Step step, const PortFault& fault);

// What a handshake showed of the board's mode: the firmware answers it, the loader says nothing
// at all; bytes that made no handshake (or a Sync that could not be sent) say nothing certain.
BoardMode boardModeOf(const HandshakeResult& handshake);

// Closes the port as closePort does, noting in the outcome a close that failed.
bool closeNoting(PortState& port, OwnerWindow& window, Outcome& outcome);

// Puts the settings found at open back and closes the port: the way out of a prepared phase.
void handBack(PortState& port, OwnerWindow& window, Outcome& outcome);

}  // namespace zq
