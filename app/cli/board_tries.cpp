#include "app/cli/board_tries.h"

#include <cstdio>
#include <utility>

#include "app/cli/exit_status.h"
#include "station/image_choice.h"
#include "app/cli/json_result.h"
#include "app/cli/safe_text.h"
#include "serial/interruption.h"

namespace zq::cli {

namespace {

// Only the board or the line failed it: an image, usage or port failure would fail again the
// same way, and after a signal (even one the programming held off) nothing more is started.
bool worthAnotherTry(const BoardResult& result) {
    return result.exit == ExitFailed && interruption::count() == 0;
}

std::string retryLine(const BoardResult& failed, unsigned next, unsigned tries) {
    char pause[32];
    std::snprintf(pause, sizeof pause, "%.1f s", std::chrono::duration<double>(RetryPause).count());
    return "failed (exit " + std::to_string(failed.exit) + "); trying again in " + pause +
           ", try " + std::to_string(next) + " of " + std::to_string(tries);
}

}  // namespace

BoardResult runAndReportBoard(const GangRequest& request, const PreparedImage& image,
                              const BoardSlot& board, RunPrinter& output, ResultLog* log) {
    output.useClock(board.index, *board.platform);
    // Named before anything is sent, for each board when there are several, so that a log
    // filtered by port still says what went to that board, and which port auto took. --quiet
    // shows only the results.
    if (!request.quiet) {
        if (!board.portNote.empty()) {
            output.note(board.index, board.portNote);
        }
        output.note(board.index, identityLine(image.identity));
    }
    const BoardTask task{.index = board.index,
                         .port = board.port,
                         .portNote = board.portNote,
                         .operation = request.operation,
                         .trace = request.trace,
                         .latencyMs = request.latencyMs,
                         .image = &image,
                         .platform = board.platform,
                         .output = &output};
    const std::chrono::nanoseconds began = board.platform->now();
    BoardResult result = runBoard(task);
    const unsigned tries = 1 + request.retries;
    while (result.attempts < tries && worthAnotherTry(result)) {
        output.progress(board.index, retryLine(result, result.attempts + 1, tries));
        board.platform->sleep(RetryPause);
        if (interruption::count() != 0) {
            // The signal ends the run as it would have ended the try: the board is as the last
            // try left it.
            result.ok = false;
            result.interruptedBy = interruption::signalNumber();
            result.exit = 128 + result.interruptedBy;
            result.reason =
                "Interrupted before the board was tried again; it is as the last try "
                "left it.";
            output.note(board.index, *result.reason);
            break;
        }
        BoardResult next = runBoard(task);
        next.messages.insert(next.messages.begin(), result.messages.begin(), result.messages.end());
        next.started = result.started;
        next.attempts = result.attempts + 1;
        result = std::move(next);
    }
    result.seconds = std::chrono::duration<double>(board.platform->now() - began).count();
    reportResult(result, board.index, request.json, output, log);
    return result;
}

void reportResult(BoardResult& result, std::size_t index, bool json, RunPrinter& output,
                  ResultLog* log) {
    if (log != nullptr) {
        if (std::optional<std::string> failed = log->append(jsonLine(result))) {
            output.note(index, "--log " + printableName(log->path().string()) +
                                   ": this board's result could not be added: " + *failed);
            result.logError = std::move(failed);
        }
    }
    if (json) {
        output.result(jsonLine(result), false);
    }
}

}  // namespace zq::cli
