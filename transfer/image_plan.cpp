#include "transfer/image_plan.h"

#include "image/boot_header.h"
#include "text/messages.h"

namespace zq {

namespace {
constexpr std::uint32_t HeaderLength = BootHeader.size();
}

ImagePlan planImage(TransferJob& job, TransferPhase phase) {
    ImagePlan plan;
    if (job.image == nullptr) {
        plan.failure = messages::MemoryNotEnough;
        return plan;
    }
    std::uint32_t length = job.imageLength;
    if (length % 2 != 0) {
        job.image[length] = 0;
        ++length;
    }
    const bool headerPresent = hasBootHeader(job.image, job.imageLength);
    // The size test compares unsigned values as the board's tool always has: a reserve larger
    // than the capacity lets every length through.
    const std::uint32_t limit = job.capacity - job.reserved;
    plan.start = job.image;
    if (phase == PhaseDownload) {
        // Tested before any header is removed: the loader's limit counts the stored image.
        if (length > limit) {
            plan.failure = messages::FirmwareTooLong;
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
        if (length > limit) {
            plan.failure = messages::FirmwareTooLong;
            return plan;
        }
    }
    plan.length = length;
    return plan;
}

}  // namespace zq
