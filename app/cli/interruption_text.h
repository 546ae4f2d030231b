#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "owner/owner_window.h"

namespace zq::cli {

// Where the operation had got to when it was interrupted, for the line that says what that means
// for the board.
struct InterruptedAt {
    std::optional<OperationStage> stage;  // none: no stage was reached
    bool imageLoaded = false;             // the loader took the whole image earlier in this run
};

// The one line printed when a signal ends an operation.
std::string interruptionLine(const InterruptedAt& where);

// The line printed when a signal comes while the board programs its EEPROM: the operation goes on.
std::string_view programmingNotice();

}  // namespace zq::cli
