#pragma once

#include <string_view>

#include "app/version_rc.h"

// The product's name and version in one place, so the window, the command line and the desktop
// entry never disagree about what is installed.
namespace zq::version {

inline constexpr std::string_view ProductName = ZQ_PRODUCT_NAME;
// Dotted: the form a person reads (--version, packages, the desktop entry) and tools compare.
inline constexpr std::string_view Number = ZQ_VERSION_NUMBER;

}  // namespace zq::version
