#pragma once

#include "job/transfer_job.h"
#include "owner/owner_window.h"
#include "protocol/packet_ops.h"
#include "serial/port_state.h"
#include "transfer/outcome.h"

namespace zq {

// Each operation below reports success as a bool and shows its own boxes; the forms that take an
// Outcome also say what happened, with its evidence.

// Opens the port when it is not open yet and sets the line up for a phase, up to the handshake.
// Shows its own error box; never closes the port.
bool readyLine(OwnerWindow& window, TransferPhase phase, const TransferJob& job, PortState& port,
               Outcome& outcome);
bool readyLine(OwnerWindow& window, TransferPhase phase, const TransferJob& job, PortState& port);

// Opens and configures the port for a phase and checks with the handshake that the board runs
// the program the phase needs. Shows its own error box; never closes the port. With `made`, the
// line is ready and its handshake was made already (a probe that chose the operation): only its
// result is judged.
bool preparePort(OwnerWindow& window, TransferPhase phase, const TransferJob& job, PortState& port,
                 Outcome& outcome, const HandshakeResult* made = nullptr);
bool preparePort(OwnerWindow& window, TransferPhase phase, const TransferJob& job, PortState& port);

// Puts the image into a board in download mode. On success the port stays open for the update
// phase that follows at once.
bool runDownloadPhase(OwnerWindow& window, TransferJob& job, ProgressTarget* progressBar,
                      PortState& port, Outcome& outcome, const HandshakeResult* made = nullptr);
bool runDownloadPhase(OwnerWindow& window, TransferJob& job, ProgressTarget* progressBar,
                      PortState& port);

// Hands the image, with the BootHeader in front, to the board's firmware, has it programmed into
// the EEPROM and reports the outcome.
bool runUpdatePhase(OwnerWindow& window, TransferJob& job, ProgressTarget* progressBar,
                    PortState& port, Outcome& outcome, const HandshakeResult* made = nullptr);
bool runUpdatePhase(OwnerWindow& window, TransferJob& job, ProgressTarget* progressBar,
                    PortState& port);

}  // namespace zq
