#include "app/qt/station/station_feed.h"

#include <utility>

namespace zq::qt {

namespace {

std::string pulledWhen(const std::optional<OperationStage>& stage) {
    if (!stage) {
        return "pulled before anything was sent";
    }
    switch (*stage) {
        case OperationStage::Probing:
            return "pulled while probing";
        case OperationStage::Loader:
        case OperationStage::Firmware:
        case OperationStage::AwaitingAck:
            return "pulled while sending";
        case OperationStage::Programming:
            return "pulled while programming";
    }
    return "pulled";
}

}  // namespace

StationFeed::StationFeed(Hooks hooks) : hooks_(std::move(hooks)) {}

StationFeed::Changes StationFeed::take() {
    // Cleared first: a change that lands while the tiles are copied wakes the window again.
    awake_.store(false);
    Changes changes;
    const std::lock_guard hold(lock_);
    changes.tiles.reserve(changed_.size());
    for (const std::string& key : changed_) {
        changes.tiles.push_back(tiles_.at(key));
    }
    changed_.clear();
    changes.counts = counts_;
    changes.logErrors = std::exchange(logErrors_, {});
    return changes;
}

void StationFeed::update(const station::Fixture& fixture,
                         const std::function<void(TileState&)>& change) {
    {
        const std::lock_guard hold(lock_);
        TileState& tile = tiles_[fixture.openName];
        if (tile.fixture.empty()) {
            tile.fixture = fixture.openName;
            tile.name = fixture.name();
        }
        change(tile);
        changed_.insert(fixture.openName);
    }
    if (!awake_.exchange(true) && hooks_.changed) {
        hooks_.changed();
    }
}

void StationFeed::expect(const station::Fixture& fixture) {
    update(fixture, [](TileState&) {});
}

void StationFeed::boardStarted(const station::BoardView& board) {
    update(board.fixture, [&](TileState& tile) {
        TileState fresh;
        fresh.fixture = tile.fixture;
        fresh.name = tile.name;
        fresh.board = board.number;
        fresh.hasBoard = true;
        tile = std::move(fresh);
        ++counts_.running;
    });
}

void StationFeed::tryStarting(const station::BoardView& board, unsigned tryNumber, unsigned) {
    update(board.fixture, [&](TileState& tile) {
        tile.tryNumber = tryNumber;
        tile.retryIn = {};
        tile.phase = TilePhase::Probing;
    });
}

void StationFeed::box(const station::BoardView&, BoxStyle, std::string_view, const Outcome&, bool) {
    // The board's end says it all on the tile; the record keeps the boxes.
}

void StationFeed::stage(const station::BoardView& board, OperationStage stage) {
    update(board.fixture, [&](TileState& tile) {
        switch (stage) {
            case OperationStage::Probing:
                tile.phase = TilePhase::Probing;
                break;
            case OperationStage::Loader:
            case OperationStage::Firmware:
            case OperationStage::AwaitingAck:
                tile.phase = TilePhase::Sending;
                break;
            case OperationStage::Programming:
                tile.phase = TilePhase::Programming;
                tile.programming = {};
                break;
        }
    });
}

void StationFeed::range(const station::BoardView& board, std::uint32_t maximum) {
    update(board.fixture, [&](TileState& tile) {
        tile.maximum = maximum;
        tile.position = 0;
    });
}

void StationFeed::position(const station::BoardView& board, std::uint32_t position) {
    update(board.fixture, [&](TileState& tile) { tile.position = position; });
}

void StationFeed::programming(const station::BoardView& board, std::chrono::milliseconds elapsed) {
    update(board.fixture, [&](TileState& tile) {
        tile.phase = TilePhase::Programming;
        tile.programming = elapsed;
    });
}

void StationFeed::tryEnded(const station::BoardView& board, const station::Try&,
                           std::optional<std::chrono::milliseconds> retryIn) {
    if (!retryIn) {
        return;  // the board's end follows
    }
    update(board.fixture, [&](TileState& tile) {
        tile.phase = TilePhase::Waiting;
        tile.retryIn = *retryIn;
    });
}

void StationFeed::boardEnded(const station::BoardRecord& record) {
    std::optional<std::string> logError;
    if (hooks_.log) {
        logError = hooks_.log(record);
    }
    const std::string reason = record.end == station::BoardEnd::Failed && hooks_.reasonOf
                                   ? hooks_.reasonOf(record)
                                   : std::string();
    update(record.fixture, [&](TileState& tile) {
        tile.board = record.number;
        tile.hasBoard = true;
        if (counts_.running > 0) {
            --counts_.running;
        }
        switch (record.end) {
            case station::BoardEnd::Succeeded:
                tile.phase = TilePhase::Passed;
                ++counts_.passed;
                break;
            case station::BoardEnd::Failed:
                tile.phase = TilePhase::Failed;
                tile.reason = reason;
                ++counts_.failed;
                break;
            case station::BoardEnd::Pulled:
                tile.phase = TilePhase::Pulled;
                tile.reason = pulledWhen(record.pulledDuring);
                ++counts_.pulled;
                break;
            case station::BoardEnd::Interrupted:
                tile.phase = TilePhase::Stopped;
                ++counts_.stopped;
                break;
        }
        if (logError) {
            logErrors_.push_back("board " + std::to_string(record.number + 1) + " on " + tile.name +
                                 ": " + *logError);
        }
    });
}

void StationFeed::portHeld(const station::Fixture& fixture, const OpenFailure&) {
    update(fixture, [](TileState& tile) {
        if (!tile.hasBoard) {
            tile.reason = "another program holds the port";
        }
    });
}

}  // namespace zq::qt
