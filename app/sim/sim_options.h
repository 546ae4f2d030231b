#pragma once

#include <chrono>
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
    // Boards an operator pulls from the link, each replaced by a new one (in the start mode)
    // `plugGap` later: first those pulled while they program their EEPROM, then those pulled once
    // the host let go of them after programming. The board after them stays.
    int pullWhileProgramming = 0;
    int pullAfterProgramming = 0;
    std::chrono::milliseconds plugGap{500};
};

// Fills `options` from the command line. Returns the status to exit with when the program should
// not run (after --help, or after explaining a bad option on stderr).
std::optional<int> parseSimOptions(int argc, const char* const* argv, SimOptions& options);

}  // namespace zq::sim
