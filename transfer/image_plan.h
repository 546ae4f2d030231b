#pragma once

#include <cstdint>
#include <string_view>

#include "job/transfer_job.h"

namespace zq {

// What a phase sends of the job's image, or why it cannot.
struct ImagePlan {
    std::string_view failure;  // empty when the image can be sent
    const std::uint8_t* start = nullptr;
    std::uint32_t length = 0;    // bytes on the wire, the header included when sent in front
    bool headerInFront = false;  // the update phase sends the BootHeader before the image
};

// Applies the length rules of a phase. An odd image gets its zero pad stored at
// image[imageLength] when the storage has that byte (otherwise the plan fails as for a missing
// image); the job's imageLength is never changed. No length wraps around: one that would not fit
// 32 bits fails the size test.
ImagePlan planImage(TransferJob& job, TransferPhase phase);

// Whether the job has an image of at least one byte. Front ends ask before an operation: an
// empty image would have the board program nothing, so no port should even be opened for it.
bool imageHasBytes(const TransferJob& job);

}  // namespace zq
