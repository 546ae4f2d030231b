#pragma once

#include <cstdint>
#include <string_view>

#include "transfer/transfer_job.h"

namespace zq {

// What a phase sends of the job's image, or why it cannot.
struct ImagePlan {
    std::string_view failure;  // empty when the image can be sent
    const std::uint8_t* start = nullptr;
    std::uint32_t length = 0;    // bytes on the wire, the header included when sent in front
    bool headerInFront = false;  // the update phase sends the BootHeader before the image
};

// Applies the length rules of a phase. An odd image gets its zero pad stored at
// image[imageLength]; the job's imageLength is never changed.
ImagePlan planImage(TransferJob& job, TransferPhase phase);

}  // namespace zq
