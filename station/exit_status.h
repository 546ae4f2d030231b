#pragma once

#include "transfer/outcome.h"

namespace zq {

// The exit statuses of zq417-flash, by class, the same for every subcommand; a board's record
// carries its own, whichever front end ran it.
enum ExitStatus : int {
    ExitSuccess = 0,        // the operation succeeded: the board confirmed it
    ExitFailed = 1,         // the board or the line failed it
    ExitUsage = 2,          // the command line was wrong; nothing was sent
    ExitPort = 3,           // the port could not be opened or configured, or there is none
    ExitNoPort = ExitPort,  // `--port auto` found no adapter
    ExitImage = 4,          // the image was refused
    ExitWrongMode = 5,      // the board was seen in the other mode than the operation needs
    // Everything else went well, but standard output could not take what was written to it (a
    // full disk, a closed stream, a reader that went away): a result that is not where a script
    // reads it is no success.
    ExitOutputLost = 6,
    // A station ended itself after the failures in a row its settings allow.
    ExitStoppedAfterFailures = 7,
};

// The class of an operation's outcome. Only a board seen answering the handshake of a Download
// is in the other mode: a silent board may simply be off, so under Update it fails like any
// other board that does not answer.
ExitStatus exitStatusFor(const Outcome& outcome);

// The status of a run that a signal ended.
inline int exitStatusForSignal(int signal) {
    return 128 + signal;
}

}  // namespace zq
