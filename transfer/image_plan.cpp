#include "transfer/image_plan.h"

#include <limits>

#include "image/boot_header.h"
#include "text/messages.h"

namespace zq {

namespace {
constexpr std::uint32_t HeaderLength = BootHeader.size();
}

ImagePlan planImage(TransferJob& job, TransferPhase phase) {
    ImagePlan plan;
    // Storage shorter than the length it claims to hold is no image either.
    if (!job.hasImage() || job.imageLength > job.image.size()) {
        plan.failure = messages::MemoryNotEnough;
        plan.fault = ImagePlanFault::NoImage;
        return plan;
    }
    // Counted in 64 bits, so neither the pad nor the header in front can wrap a length around
    // to a small one that would pass the size test.
    std::uint64_t length = job.imageLength;
    if (length % 2 != 0) {
        // The pad goes only where the storage has room for it; storage without that byte is
        // treated as the allocation that failed to provide it.
        if (length >= job.image.size()) {
            plan.failure = messages::MemoryNotEnough;
            plan.fault = ImagePlanFault::NoImage;
            return plan;
        }
        job.image[length] = 0;
        ++length;
    }
    const bool headerPresent = hasBootHeader(job.image.data(), job.imageLength);
    // The size test compares unsigned values as the board's tool always has: a reserve larger
    // than the capacity lets every length through (that no longer fits a 32-bit count).
    const std::uint32_t limit = job.capacity - job.reserved;
    const auto tooLong = [limit](std::uint64_t bytes) {
        return bytes > limit || bytes > std::numeric_limits<std::uint32_t>::max();
    };
    plan.start = job.image.data();
    if (phase == PhaseDownload) {
        // Tested before any header is removed: the loader's limit counts the stored image.
        if (tooLong(length)) {
            plan.failure = messages::FirmwareTooLong;
            plan.fault = ImagePlanFault::TooLong;
            return plan;
        }
        if (headerPresent) {
            plan.start += HeaderLength;
            length -= HeaderLength;
        }
    } else {
        if (!headerPresent) {
            length += HeaderLength;
            plan.headerInFront = true;
        }
        if (tooLong(length)) {
            plan.failure = messages::FirmwareTooLong;
            plan.fault = ImagePlanFault::TooLong;
            return plan;
        }
    }
    plan.length = static_cast<std::uint32_t>(length);
    return plan;
}

}  // namespace zq
