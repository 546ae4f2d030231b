#include <gtest/gtest.h>
#include <sys/mman.h>

#include <algorithm>
#include <vector>

#include "image/boot_header.h"
#include "text/messages.h"
#include "transfer/image_plan.h"

namespace zq {
namespace {

// What each phase sends of an image: the loader takes it padded to an even length without the
// BootHeader, the firmware takes it with the header, put in front when it is not there. The pad
// is stored only where the storage has room for it; otherwise the plan fails as for storage that
// could not be had.
TEST(ImagePlan, EachPhaseSendsThePaddedImageWithOrWithoutTheHeaderWithinTheLimits) {
    constexpr auto Download = PhaseDownload;
    constexpr auto Update = PhaseUpdate;
    const std::string_view ok;
    struct Case {
        std::uint32_t length;
        bool header;
        std::size_t room;  // bytes of storage the job's image spans
        TransferPhase phase;
        std::string_view failure;
        std::size_t start = 0;
        std::uint32_t wire = 0;
        bool headerInFront = false;
    };
    for (const Case& c : {
             Case{5695, false, 5696, Download, ok, 0, 5696, false},
             Case{5695, false, 5696, Update, ok, 0, 5728, true},
             Case{1000, true, 1001, Download, ok, 32, 968, false},
             Case{1000, true, 1001, Update, ok, 0, 1000, false},
             Case{8192, false, 8192, Download, ok, 0, 8192, false},
             Case{8160, false, 8160, Update, ok, 0, 8192, true},
             Case{8161, false, 8162, Update, messages::FirmwareTooLong},
             // The loader's test counts the stored image, header included.
             Case{8200, true, 8200, Download, messages::FirmwareTooLong},
             // Shorter than the header: never compared, so the header is sent in front.
             Case{17, true, 18, Update, ok, 0, 18 + 32, true},
             Case{17, false, 17, Update, messages::MemoryNotEnough},
             Case{40, false, 18, Download, messages::MemoryNotEnough},
             Case{0, false, 0, Download, messages::MemoryNotEnough},
             Case{0, false, 0, Update, messages::MemoryNotEnough},
         }) {
        SCOPED_TRACE(testing::Message() << c.length << (c.header ? " with header, " : ", ")
                                        << c.room << " stored, phase " << int{c.phase});
        std::vector<std::uint8_t> storage(std::max<std::size_t>(c.length, c.room) + 1, 0x11);
        if (c.header) {
            std::copy_n(BootHeader.begin(), std::min<std::size_t>(c.length, 32), storage.begin());
        }
        TransferJob job{.capacity = ImageCapacity, .imageLength = c.length};
        if (c.room > 0) {
            job.image = std::span(storage).first(c.room);
        }
        const ImagePlan plan = planImage(job, c.phase);
        EXPECT_EQ(plan.failure, c.failure);
        EXPECT_EQ(job.imageLength, c.length);
        if (c.length % 2 != 0 && c.length < storage.size()) {
            EXPECT_EQ(storage[c.length], c.room > c.length ? 0 : 0x11);
        }
        if (c.failure.empty()) {
            EXPECT_EQ(plan.start, storage.data() + c.start);
            EXPECT_EQ(plan.length, c.wire);
            EXPECT_EQ(plan.headerInFront, c.headerInFront);
        }
    }
}

// Lengths near 4 GiB, with a reserve above the capacity that lets every length through the
// size test: the update phase's image + 32, or the pad, must not wrap to a short length that
// would go on the wire. The storage is reserved address space only; nothing but the header and
// the pad position is ever touched.
TEST(ImagePlan, LengthsThatWouldWrapAroundAreTooLong) {
    constexpr std::size_t Size = std::size_t{1} << 32;
    void* mapped = ::mmap(nullptr, Size, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(mapped, MAP_FAILED);
    const std::span<std::uint8_t> storage(static_cast<std::uint8_t*>(mapped), Size);
    for (const std::uint32_t length : {0xFFFFFFF0u, 0xFFFFFFE1u, 0xFFFFFFFFu}) {
        TransferJob job{.capacity = ImageCapacity,
                        .reserved = ImageCapacity + 1,
                        .image = storage,
                        .imageLength = length};
        EXPECT_EQ(planImage(job, PhaseUpdate).failure, messages::FirmwareTooLong) << length;
        // The loader's test passes what still fits 32 bits once padded, as it always has.
        if (length != 0xFFFFFFFFu) {
            EXPECT_EQ(planImage(job, PhaseDownload).length, length + length % 2) << length;
        } else {
            EXPECT_EQ(planImage(job, PhaseDownload).failure, messages::FirmwareTooLong) << length;
        }
    }
    ::munmap(mapped, Size);
}

}  // namespace
}  // namespace zq
