#pragma once

#include <optional>

#include "job/transfer_job.h"
#include "owner/owner_window.h"
#include "serial/port_state.h"
#include "transfer/image_plan.h"
#include "transfer/outcome.h"

namespace zq {

// The image checks of a phase, which touch no port: without a plan the image was refused, its box
// shown and the outcome says why.
std::optional<ImagePlan> planPhase(OwnerWindow& window, TransferJob& job, TransferPhase phase,
                                   Outcome& outcome);

// The start both phases share: the image checks, which touch no port, then the hand-back of a port
// held under another name, then the port preparation (judging `made` when a probe made the
// handshake already). Without a plan the box has been shown and, after a failed preparation, the
// port closed.
std::optional<ImagePlan> beginPhase(OwnerWindow& window, TransferJob& job, TransferPhase phase,
                                    PortState& port, Outcome& outcome, const HandshakeResult* made);

}  // namespace zq
