#include "app/cli/board_result.h"

#include "app/cli/exit_status.h"

namespace zq::cli {

namespace {

std::optional<std::string> modeName(BoardMode mode) {
    switch (mode) {
        case BoardMode::Download:
            return "download";
        case BoardMode::Update:
            return "update";
        case BoardMode::Unknown:
            break;
    }
    return std::nullopt;
}

}  // namespace

void recordOutcome(BoardResult& result, const Outcome& outcome, bool ran) {
    result.exit = exitStatusFor(outcome);
    result.boardMode = modeName(outcome.boardMode);
    result.performed = !ran ? "" : outcome.performed == ModeUpdate ? "update" : "download";
    result.status = outcome.status;
}

}  // namespace zq::cli
