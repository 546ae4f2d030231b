#pragma once

#include <cstdint>

#include "job/transfer_job.h"

namespace zq {

inline constexpr std::uint32_t BuiltInImageLength = 5695;

// The firmware compiled into the program. The storage is writable and one byte longer than the
// image, because a phase stores the even-length pad just past an odd image.
std::uint8_t* builtInImage();

// Points the job at the built-in image, its whole storage (the spare byte included).
void useBuiltInImage(TransferJob& job);

}  // namespace zq
