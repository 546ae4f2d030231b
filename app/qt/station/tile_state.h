#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace zq::qt {

// Where the board on a fixture is, as its tile says it.
enum class TilePhase {
    Waiting,      // no board yet, or a board waiting for its next try
    Probing,      // the handshake: nothing of the image has been sent
    Sending,      // the image is going out
    Programming,  // the board programs its EEPROM
    Passed,
    Failed,
    Pulled,
    Stopped,  // Stop or a signal ended it
};

// The word a tile shows for its phase: colour is never the only sign.
std::string_view phaseWord(TilePhase phase);
// Whether the board's part has ended there (its result stays until the next board).
bool phaseEnded(TilePhase phase);

// One fixture's tile: its last board, kept until the next board is plugged there.
struct TileState {
    std::string fixture;      // the name its job opens: the tile's key
    std::string name;         // the fixture's own name (USB position or port)
    std::uint64_t board = 0;  // the board's number in the run, from 1 on screen
    bool hasBoard = false;
    TilePhase phase = TilePhase::Waiting;
    unsigned tryNumber = 0;
    std::uint32_t maximum = 0;  // the progress bar's range while sending
    std::uint32_t position = 0;
    std::chrono::milliseconds programming{0};
    std::chrono::milliseconds retryIn{0};  // Waiting after a failed try: the pause before the next
    std::string reason;  // Failed: the first line of why; Pulled: how far it had got
};

// The line under a tile's word: what the board is at, or why it failed.
std::string detailLine(const TileState& tile);

}  // namespace zq::qt
