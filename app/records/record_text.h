#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "station/board_record.h"

namespace zq {

// Why the board ended as it did, in words (several lines at most): the refusal of its image, its
// last try's failure naming `device` (empty: the port is named in front of the line already),
// what being pulled at its stage means for the board, or what the interruption left. Nothing for a
// board that succeeded.
std::optional<std::string> reasonOf(const station::BoardRecord& record, std::string_view device);

// The first line of the reason, or of the first box when there is no reason: for a summary line
// or a tile.
std::string reasonLine(const station::BoardRecord& record);

// What to try next, from what the board's tries showed: the --latency advised for replies that
// came late or in parts, or, when that latency was tried and did not help, what will.
std::optional<std::string> adviceOf(const station::BoardRecord& record);

// "passed", "FAILED (exit 1)", "PULLED during the programming", "interrupted": the board's end
// in a few words.
std::string endWords(const station::BoardRecord& record);

}  // namespace zq
