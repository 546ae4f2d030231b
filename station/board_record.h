#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "image/image_identity.h"
#include "owner/owner_window.h"
#include "station/board_settings.h"
#include "station/fixture.h"
#include "transfer/outcome.h"

namespace zq::station {

struct ShownBox {
    BoxStyle style = BoxStyle::Error;
    std::string text;
};

// One try of a board: one operation, probing afresh.
struct Try {
    std::chrono::system_clock::time_point started{};
    double seconds = 0;
    unsigned latencyMs = 0;  // what this try added to every read: the setting, or advised
    Outcome outcome{};
    int exit = 0;                   // its exit status
    std::vector<ShownBox> boxes{};  // in the order shown
};

// How a board's part in a run ended: each board ends in exactly one of these.
enum class BoardEnd {
    Succeeded,    // the board confirmed its firmware
    Failed,       // the board, the line, the port or the image failed it
    Pulled,       // its port went away before the board confirmed anything
    Interrupted,  // a signal (or Stop) ended it
};

std::string_view boardEndName(BoardEnd end);

// Everything a run knows about one board, from its plug to its end.
struct BoardRecord {
    std::uint64_t number = 0;  // the order its plug came in, from 0
    Fixture fixture;
    Operation operation = Operation::Flash;
    ImageIdentity image;
    std::string station;  // the host's name, or the station's as given
    std::chrono::system_clock::time_point started{};
    std::chrono::system_clock::time_point ended{};
    double seconds = 0;  // from the first try to the end, on the board's clock
    std::vector<Try> tries;
    BoardEnd end = BoardEnd::Failed;
    // For Pulled: how far the board had got when its port went (none: nothing was sent).
    std::optional<OperationStage> pulledDuring{};
    int interruptedBy = 0;                  // the signal, for Interrupted
    int exit = 1;                           // the run's status for this board
    std::optional<std::string> logError{};  // why the record could not be added to the log
    // The image was refused before the board was tried: the box and the reason, in words.
    struct Refusal {
        std::string box;
        std::string reason;
    };
    std::optional<Refusal> refusal{};

    bool ok() const { return end == BoardEnd::Succeeded; }
    const Outcome& outcome() const;  // the last try's; a success when there was none
};

}  // namespace zq::station
