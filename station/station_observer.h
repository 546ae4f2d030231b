#pragma once

#include <chrono>
#include <cstdint>
#include <string_view>

#include "owner/owner_window.h"
#include "serial/platform.h"
#include "station/board_record.h"
#include "transfer/outcome.h"

namespace zq::station {

// A board while it runs, as its observer sees it.
struct BoardView {
    std::uint64_t number = 0;
    const Fixture& fixture;
    const BoardRecord& record;  // filled as its tries end
    Platform& platform;         // what the board runs on, whose clock times its progress
};

// What a station tells its front end, from the boards' own threads (one board's calls never
// overlap; different boards' do). The front end renders; it decides nothing.
class StationObserver {
  public:
    virtual ~StationObserver() = default;

    // A plug made a board; before anything is sent to it.
    virtual void boardStarted(const BoardView& board) = 0;
    // A try begins: its number from 1, and the latency it runs with (advised after a late reply).
    virtual void tryStarting(const BoardView& /*board*/, unsigned /*tryNumber*/,
                             unsigned /*latencyMs*/) {}
    // A box as the operation shows it; `outcome` is the operation's so far (the reason is
    // rendered from it). `unowned`: the close-failure box.
    virtual void box(const BoardView& board, BoxStyle style, std::string_view text,
                     const Outcome& outcome, bool unowned) = 0;
    // Flash has probed the board and chosen the operation that `outcome` names.
    virtual void flashChose(const BoardView& /*board*/, const Outcome& /*outcome*/) {}
    virtual void stage(const BoardView& board, OperationStage stage) = 0;
    virtual void range(const BoardView& board, std::uint32_t maximum) = 0;
    virtual void position(const BoardView& board, std::uint32_t position) = 0;
    // While the board programs its EEPROM, how long it has been at it; only when `countsDown`.
    virtual void programming(const BoardView& /*board*/, std::chrono::milliseconds /*elapsed*/) {}
    virtual bool countsDown() const { return false; }
    // A signal came while the board programmed; it finishes first.
    virtual void signalHeldOff(const BoardView& /*board*/) {}
    virtual void trace(const BoardView& /*board*/, std::string_view /*line*/) {}
    // A try ended; when `retryIn` is set the board is tried again after that pause.
    virtual void tryEnded(const BoardView& board, const Try& ended,
                          std::optional<std::chrono::milliseconds> retryIn) = 0;
    // The board's one record. Called exactly once per board, after its port was handed back.
    virtual void boardEnded(const BoardRecord& record) = 0;
    // A port given by name that another program holds; said once per port.
    virtual void portHeld(const Fixture& /*fixture*/, const OpenFailure& /*why*/) {}
};

}  // namespace zq::station
