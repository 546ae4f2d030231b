#pragma once

#include <cstdint>
#include <string_view>

#include "job/transfer_job.h"

namespace zq {

// Why a phase cannot send the job's image.
enum class ImagePlanFault : std::uint8_t {
    None,
    NoImage,  // no storage, or none for the pad byte: the board tool's "memory" failure
    TooLong,  // longer than the board's capacity
};

// Why a phase refused an image, with the lengths its size test compared.
struct ImageFault {
    ImagePlanFault fault = ImagePlanFault::None;
    std::uint64_t measured = 0;  // for TooLong: the length the size test measured
    std::uint32_t limit = 0;     // and what it may be at most: the capacity less the reserve

    explicit operator bool() const { return fault != ImagePlanFault::None; }
    bool operator==(const ImageFault&) const = default;
};

// What a phase sends of the job's image, or why it cannot.
struct ImagePlan {
    std::string_view failure;  // the box; empty when the image can be sent
    ImageFault fault{};
    const std::uint8_t* start = nullptr;
    std::uint32_t length = 0;    // bytes on the wire, the header included when sent in front
    bool headerInFront = false;  // the update phase sends the BootHeader before the image
};

// What a phase's size test makes of an image of `imageLength` bytes, with or without the
// BootHeader at its start: the length it compares with `limit` (padded to even, and for the
// update phase with the header put in front when it is not there), counted in 64 bits so nothing
// wraps, and whether that passes.
struct PhaseLength {
    std::uint64_t measured = 0;
    bool fits = false;
};

PhaseLength measureForPhase(std::uint64_t imageLength, bool headerPresent, TransferPhase phase,
                            std::uint32_t limit);

// Applies the length rules of a phase. An odd image gets its zero pad stored at
// image[imageLength] when the storage has that byte (otherwise the plan fails as for a missing
// image); the job's imageLength is never changed. No length wraps around: one that would not fit
// 32 bits fails the size test.
ImagePlan planImage(TransferJob& job, TransferPhase phase);

}  // namespace zq
