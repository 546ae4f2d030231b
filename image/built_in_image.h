#pragma once

#include <cstdint>

namespace zq {

inline constexpr std::uint32_t BuiltInImageLength = 5695;

// The firmware compiled into the program. The storage is writable and one byte longer than the
// image, because a phase stores the even-length pad just past an odd image.
std::uint8_t* builtInImage();

}  // namespace zq
