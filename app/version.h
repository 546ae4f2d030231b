#pragma once

#include <string_view>

// The product's name and version in one place, so the window, the command line and the desktop
// entry never disagree about what is installed.
namespace zq::version {

inline constexpr std::string_view ProductName = "Firmware Updater";
// Dotted, for packages and anything that compares versions.
inline constexpr std::string_view Number = "1.6.1.1";
// As the About box has always shown it; users quote this form in support requests.
inline constexpr std::string_view Text = "1, 6, 1, 1a";

}  // namespace zq::version
