#pragma once

#include <optional>
#include <string>

#include "sim/board_model.h"

namespace zq::sim {

// Everything the command line of zq417-sim decides.
struct SimOptions {
    BoardConfig board{.mode = BoardMode::Download};
    std::string linkPath;  // empty: no link
    bool quiet = false;
    std::optional<int> exitAfterOperations;
    int boards = 1;
    std::string logPrefix;  // in front of each exchange line, to tell boards apart
    int boardIndex = 0;     // which of the --boards this one is
};

// Fills `options` from the command line. Returns the status to exit with when the program should
// not run (after --help, or after explaining a bad option on stderr).
std::optional<int> parseSimOptions(int argc, const char* const* argv, SimOptions& options);

}  // namespace zq::sim
