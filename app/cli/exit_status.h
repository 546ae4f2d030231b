#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "station/exit_status.h"

namespace zq::cli {

// What each status means, the one table that the help, the manual page made from the help, the
// zip's README.txt and the README's table (checked against it) say. The packaging reads the rows
// from this file, so each stays on one line, its meaning a single literal.
struct ExitStatusMeaning {
    std::string_view status;
    std::string_view meaning;  // its first words up to " (" or ";" also stand alone
};
// clang-format off
inline constexpr ExitStatusMeaning ExitStatusMeanings[] = {
    {"0", "the operation succeeded (the board confirmed it)"},
    {"1", "the board or the line failed it (no reply, a wrong reply, EEPROM programming failed, a packet that could not be sent); a silent board under update may simply be off"},
    {"2", "the command line is wrong (also: the same port given twice, --port auto finding several adapters, a --log file that cannot be opened)"},
    {"3", "there is no port to open (no USB serial adapter or virtual board for --port auto, or for no port named), or it could not be opened or configured"},
    {"4", "the image was refused (cannot be read, empty, too long, not usable Intel HEX, a file known to be no image such as ELF); nothing was sent"},
    {"5", "the board was seen in the other mode than the operation needs (download found it answering the handshake)"},
    {"6", "the operation went well, but standard output could not take what was written to it (a full disk, a closed stream, a reader that went away); what it missed, the result included, went to standard error with a line saying why, and a board that failed keeps its own status"},
    {"7", "watch ended itself after --stop-after-failures N boards failed in a row (the boards in flight were brought to their end first)"},
    {"128+n", "interrupted by signal n, 130 for Ctrl+C, 143 for SIGTERM (the port is handed back first); 141 also when the reader of standard output or error went away and that cut an operation short: a board whose result is known keeps its status"},
};
inline constexpr std::string_view SeveralPortsExit = "With several ports: 0 only when every board succeeded, otherwise the status of the first port, in the order given, that did not.";
// clang-format on

// The table as the program's --help gives it, one status a line.
std::string exitStatusTable();

// A subcommand's own statuses in one sentence ("Exit status: 0 listed, 2 the command line is
// wrong."); a meaning left empty is the table's, in its first words.
std::string exitStatusSentence(std::initializer_list<ExitStatusMeaning> statuses);

}  // namespace zq::cli
