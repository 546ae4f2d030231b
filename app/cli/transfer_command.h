#pragma once

#include <ostream>
#include <string>

#include "serial/platform.h"
#include "transfer/transfer_job.h"

namespace zq::cli {

struct TransferRequest {
    TransferMode mode = ModeDownload;
    std::string portName = "COM1";
    bool trace = false;
};

// Where a transfer's output goes. The progress bar appears only when standard error is a
// terminal: in a log it would be a long run of carriage returns.
struct Console {
    std::ostream& out;
    std::ostream& err;
    bool errIsTerminal = false;
};

// Runs Download or Update exactly as the window's buttons do, with the boxes printed and, on
// request, the wire traced. True only when the operation succeeded.
bool runTransfer(const TransferRequest& request, Platform& platform, const Console& console);

}  // namespace zq::cli
