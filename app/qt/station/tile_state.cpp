#include "app/qt/station/tile_state.h"

namespace zq::qt {

std::string_view phaseWord(TilePhase phase) {
    switch (phase) {
        case TilePhase::Waiting:
            return "waiting";
        case TilePhase::Probing:
            return "probing";
        case TilePhase::Sending:
            return "sending";
        case TilePhase::Programming:
            return "programming";
        case TilePhase::Passed:
            return "PASSED";
        case TilePhase::Failed:
            return "FAILED";
        case TilePhase::Pulled:
            return "PULLED";
        case TilePhase::Stopped:
            return "STOPPED";
    }
    return "";
}

bool phaseEnded(TilePhase phase) {
    return phase == TilePhase::Passed || phase == TilePhase::Failed || phase == TilePhase::Pulled ||
           phase == TilePhase::Stopped;
}

namespace {

std::string seconds(std::chrono::milliseconds ms) {
    return std::to_string((ms.count() + 500) / 1000) + " s";
}

}  // namespace

std::string detailLine(const TileState& tile) {
    const std::string board = "board " + std::to_string(tile.board + 1);
    const std::string attempt =
        tile.tryNumber > 1 ? ", try " + std::to_string(tile.tryNumber) : std::string();
    switch (tile.phase) {
        case TilePhase::Waiting:
            if (!tile.hasBoard) {
                return tile.reason.empty() ? "for a board" : tile.reason;
            }
            if (tile.retryIn.count() > 0) {
                return board + ": tried again in " + seconds(tile.retryIn);
            }
            return board;
        case TilePhase::Probing:
            return board + attempt;
        case TilePhase::Sending: {
            const std::uint64_t percent =
                tile.maximum == 0 ? 0 : std::uint64_t{tile.position} * 100 / tile.maximum;
            return board + attempt + ": " + std::to_string(percent) + " %";
        }
        case TilePhase::Programming:
            return board + attempt + ": " + seconds(tile.programming);
        case TilePhase::Failed:
        case TilePhase::Pulled:
            return tile.reason.empty() ? board : board + ": " + tile.reason;
        case TilePhase::Passed:
        case TilePhase::Stopped:
            return board;
    }
    return board;
}

}  // namespace zq::qt
