#pragma once

#include <atomic>
#include <functional>

#include "serial/platform.h"
#include "station/board_record.h"
#include "station/board_settings.h"
#include "station/prepared_image.h"
#include "station/station_observer.h"

namespace zq::station {

// Before a board is tried again. A board that failed after taking the whole image may still be
// programming its EEPROM, saying nothing meanwhile; a probe inside that time would take it for
// the silent loader. The programming time also covers the longest reply window (224 ms: a
// Query's 200 ms pause and a 24 ms read) and the board dropping a packet it got only part of.
inline constexpr std::chrono::milliseconds RetryPause{6200};

// What a board runner asks of the station while the board runs.
struct BoardLease {
    // Set once the board's port has gone: no try starts after that.
    const std::atomic<bool>* pulled = nullptr;
    // Whether another try may start (the station is not stopping for failures in a row).
    std::function<bool()> mayRetry{};
    // The port was there when the board was plugged: a port that then cannot be found is gone,
    // not a name given wrong.
    bool portSeen = false;
};

// One board from its plug to its end: tries the operation, and while the plug lasts tries again
// (after RetryPause, with the latency the last failure advises) a board that failed on the board
// or the line, up to `settings.retries` more times. Ends the record (its end, exit and times);
// the caller tells the observer.
void runBoard(BoardRecord& record, const BoardSettings& settings, const PreparedImage& image,
              Platform& platform, const BoardLease& lease, StationObserver& observer);

}  // namespace zq::station
