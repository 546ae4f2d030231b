#pragma once

#include <filesystem>
#include <ostream>
#include <string>

#include "image/startup_directory.h"
#include "serial/platform.h"
#include "transfer/transfer_job.h"

namespace zq::cli {

struct TransferRequest {
    TransferMode mode = ModeDownload;
    std::string portName = "COM1";
    bool trace = false;
    std::filesystem::path imageFile{};  // empty: the built-in image
    bool force = false;                 // send an implausible image file as a binary image
    unsigned latencyMs = 0;             // added to every read's total timeout
    std::string portNote{};             // for the trace: what the name given stood for
};

// Where a transfer's output goes. The progress bar appears only when standard error is a
// terminal: in a log it would be a long run of carriage returns.
struct Console {
    std::ostream& out;
    std::ostream& err;
    bool errIsTerminal = false;
};

// Runs Download or Update exactly as the window's buttons do, with the boxes printed and, on
// request, the wire traced. The image, built-in or from a file taken by its content, is checked
// against the operation before the port is touched and named on standard output. True only when
// the operation succeeded.
bool runTransfer(const TransferRequest& request, Platform& platform, const Console& console,
                 const StartupDirectory& startup);

// How a transfer ended: `interruptedBy` is the signal that ended it, 0 when none did (a signal
// the board's programming stage absorbed does not count: the board's result was reported).
struct TransferOutcome {
    bool succeeded = false;
    int interruptedBy = 0;
};

// runTransfer, telling an interrupted run apart. After an interruption the port has been handed
// back as found, no box was printed for the calls the signal cut short, and one line on the
// error stream says what the interruption means for the board.
TransferOutcome runTransferOutcome(const TransferRequest& request, Platform& platform,
                                   const Console& console, const StartupDirectory& startup);

}  // namespace zq::cli
