#pragma once

#include <chrono>
#include <cstddef>
#include <string>

#include "app/cli/board_result.h"
#include "app/cli/flash_command.h"
#include "app/cli/result_log.h"
#include "app/cli/run_printer.h"
#include "serial/platform.h"

namespace zq::cli {

// Before a board is tried again. A board that failed after taking the whole image may still be
// programming its EEPROM, saying nothing meanwhile; a probe inside that time would take it for
// the silent loader. The programming time also covers the longest reply window (224 ms: a
// Query's 200 ms pause and a 24 ms read) and the board dropping a packet it got only part of.
inline constexpr std::chrono::milliseconds RetryPause = ProgrammingTakes;

// One board of a run: where its lines go and what it runs on.
struct BoardSlot {
    std::size_t index = 0;   // its place in the run's output
    std::string port;        // as resolved: the name its job opens
    std::string portNote{};  // for the trace: what the name given stood for
    Platform* platform = nullptr;
};

// A board's whole part in a run, on the caller's thread: names the image, runs the request's
// operation, and when that fails on the board or the line (exit 1, no signal seen) tries again
// after RetryPause, up to request.retries more times, each try probing afresh. Then prints the
// result as the request asks (its JSON line; in plain mode the boxes were printed as they came)
// and appends it to `log` when there is one. Returns the last try's result, with every try's
// boxes in order and the number of tries.
BoardResult runAndReportBoard(const GangRequest& request, const PreparedImage& image,
                              const BoardSlot& board, RunPrinter& output, ResultLog* log);

// The end of a board's run: appended to `log`, where a failed append is noted on the result and
// on standard error, then printed as its JSON line when `json`.
void reportResult(BoardResult& result, std::size_t index, bool json, RunPrinter& output,
                  ResultLog* log);

}  // namespace zq::cli
