#pragma once

#include <cstdint>
#include <string>

namespace zq::cli {

// The bar's text for a position within 0..maximum; a position past the end shows a full bar.
std::string renderProgress(std::uint32_t position, std::uint32_t maximum);

}  // namespace zq::cli
