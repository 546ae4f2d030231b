#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "image/image_identity.h"
#include "owner/owner_window.h"
#include "transfer/outcome.h"

namespace zq::cli {

struct ShownBox {
    BoxStyle style = BoxStyle::Error;
    std::string text;
};

// Everything one board's operation ended with, for the result lines, the summary and JSON.
struct BoardResult {
    std::string port;       // as given on the command line
    std::string device;     // the device it names
    std::string operation;  // download, update or flash
    std::string performed;  // the operation that ran (flash chooses), empty when none did
    bool ok = false;
    int exit = 1;
    std::vector<ShownBox> messages;
    std::optional<std::string> reason;     // the line after the box; for an interruption, its line
    std::optional<std::string> advice;     // what to try next (a --latency), printed after it
    int interruptedBy = 0;                 // the signal that ended the operation, 0 when none
    std::optional<std::string> boardMode;  // what the first handshake found
    std::optional<std::uint16_t> status;   // the board's status value after programming
    ImageIdentity image;
    std::chrono::system_clock::time_point started{};  // of the first try
    double seconds = 0;                               // from then to the end of the last try
    unsigned attempts = 1;                            // messages hold every try's boxes
    std::optional<std::string> logError;  // why the result could not be added to the log
};

// Sets the fields of a result that the operation's outcome decides: the exit status, the board's
// mode, the status it reported, the operation performed and the signal that ended it.
void recordOutcome(BoardResult& result, const Outcome& outcome);

}  // namespace zq::cli
