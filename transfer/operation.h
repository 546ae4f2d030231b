#pragma once

#include <cstdint>
#include <string>

#include "job/transfer_job.h"
#include "serial/owner_window.h"
#include "serial/port_state.h"

namespace zq {

// Fills the job as the window's Download and Update buttons do, with the built-in image.
void fillJob(TransferJob& job, TransferMode mode, const std::string& portName);

// Runs the operation the job's mode names: Download is the download phase followed at once by
// the update phase; Update is the update phase alone.
bool runOperation(OwnerWindow& window, TransferJob& job, ProgressTarget* progressBar,
                  PortState& port);

}  // namespace zq
