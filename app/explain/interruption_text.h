#pragma once

#include <string>
#include <string_view>

#include "transfer/outcome.h"

namespace zq {

// The one line printed when a signal ends an operation: what the interruption means for the
// board, from where the operation had got to.
std::string interruptionLine(const Outcome& outcome);

// The line printed when a signal comes while the board programs its EEPROM: the operation goes on.
std::string_view programmingNotice();

}  // namespace zq
