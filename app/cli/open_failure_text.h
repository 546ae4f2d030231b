#pragma once

#include <string>
#include <string_view>

#include "serial/platform.h"

namespace zq::cli {

// The line printed after the fixed "Can not open selected COM port!" box: what the system said
// about `devicePath` and what the user can do about it. Empty when there was no failure.
std::string explainOpenFailure(const OpenFailure& why, std::string_view devicePath);

}  // namespace zq::cli
