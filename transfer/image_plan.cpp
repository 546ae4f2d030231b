#include "transfer/image_plan.h"

#include <limits>

#include "image/boot_header.h"
#include "text/messages.h"

namespace zq {

namespace {
constexpr std::uint32_t HeaderLength = BootHeader.size();

ImagePlan refused(ImagePlan& plan, ImageFault fault) {
    plan.failure = fault.fault == ImagePlanFault::TooLong ? messages::FirmwareTooLong
                                                          : messages::MemoryNotEnough;
    plan.fault = fault;
    return plan;
}

}  // namespace

PhaseLength measureForPhase(std::uint64_t imageLength, bool headerPresent, TransferPhase phase,
                            std::uint32_t limit) {
    std::uint64_t length = imageLength + imageLength % 2;
    // The loader's limit counts the stored image, before any header is taken off.
    if (phase == PhaseUpdate && !headerPresent) {
        length += HeaderLength;
    }
    // The size test compares unsigned values as the board's tool always has: a reserve larger
    // than the capacity lets every length through (that no longer fits a 32-bit count).
    return {length, length <= limit && length <= std::numeric_limits<std::uint32_t>::max()};
}

ImagePlan planImage(TransferJob& job, TransferPhase phase) {
    ImagePlan plan;
    // Storage shorter than the length it claims to hold is no image either.
    if (!job.hasImage() || job.imageLength > job.image.size()) {
        return refused(plan, {ImagePlanFault::NoImage});
    }
    if (job.imageLength % 2 != 0) {
        // The pad goes only where the storage has room for it; storage without that byte is
        // treated as the allocation that failed to provide it.
        if (job.imageLength >= job.image.size()) {
            return refused(plan, {ImagePlanFault::NoImage});
        }
        job.image[job.imageLength] = 0;
    }
    const bool headerPresent = hasBootHeader(job.image.data(), job.imageLength);
    const std::uint32_t limit = job.capacity - job.reserved;
    const PhaseLength length = measureForPhase(job.imageLength, headerPresent, phase, limit);
    if (!length.fits) {
        return refused(plan, {ImagePlanFault::TooLong, length.measured, limit});
    }
    plan.start = job.image.data();
    plan.length = static_cast<std::uint32_t>(length.measured);
    if (phase == PhaseDownload && headerPresent) {
        plan.start += HeaderLength;
        plan.length -= HeaderLength;
    }
    plan.headerInFront = phase == PhaseUpdate && !headerPresent;
    return plan;
}

}  // namespace zq
