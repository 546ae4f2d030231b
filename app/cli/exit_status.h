#pragma once

#include <span>

#include "job/transfer_job.h"
#include "serial/owner_window.h"

namespace zq::cli {

// The exit statuses of zq417-flash, by class, the same for every subcommand.
enum ExitStatus : int {
    ExitSuccess = 0,        // the operation succeeded: the board confirmed it
    ExitFailed = 1,         // the board or the line failed it
    ExitUsage = 2,          // the command line was wrong; nothing was sent
    ExitPort = 3,           // the port could not be opened or configured, or there is none
    ExitNoPort = ExitPort,  // `--port auto` found no adapter
    ExitImage = 4,          // the image was refused
    ExitWrongMode = 5,      // the board is in the other mode than the operation needs
};

struct ShownBox;

// The class of an operation's outcome, from the boxes it showed. `mode` is the operation that
// ran: for Update, a board that never answers the handshake is taken to be in download mode
// (its loader never answers); in Download's own update phase it means the loaded firmware failed.
ExitStatus classifyOutcome(bool succeeded, std::span<const ShownBox> boxes, TransferMode mode);

}  // namespace zq::cli
