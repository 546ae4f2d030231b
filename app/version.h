#pragma once

#include <string_view>

#include "app/version_rc.h"

// The product's name and version in one place, so the window, the command line and the desktop
// entry never disagree about what is installed.
namespace zq::version {

inline constexpr std::string_view ProductName = ZQ_PRODUCT_NAME;
// Dotted, for packages and anything that compares versions.
inline constexpr std::string_view Number = ZQ_VERSION_NUMBER;
// As the About box has always shown it; users quote this form in support requests.
inline constexpr std::string_view Text = ZQ_VERSION_TEXT;

}  // namespace zq::version
