#pragma once

#include <string>
#include <string_view>

namespace zq {

// Why a port that was chosen and then went away is not opened, and what brings it back.
std::string explainGonePort(std::string_view device);

}  // namespace zq
