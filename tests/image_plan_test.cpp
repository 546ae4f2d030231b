#include <gtest/gtest.h>
#include <sys/mman.h>

#include <algorithm>
#include <vector>

#include "image/boot_header.h"
#include "image/built_in_image.h"
#include "text/messages.h"
#include "transfer/image_plan.h"

namespace zq {
namespace {

TransferJob jobFor(std::vector<std::uint8_t>& storage, std::uint32_t length) {
    storage.resize(length + 1, 0x11);
    TransferJob job;
    job.capacity = ImageCapacity;
    job.image = storage;
    job.imageLength = length;
    return job;
}

std::vector<std::uint8_t> withHeader(std::uint32_t length) {
    std::vector<std::uint8_t> storage(length + 1, 0x22);
    std::copy(BootHeader.begin(), BootHeader.end(), storage.begin());
    return storage;
}

TEST(ImagePlan, BuiltInImageIsPaddedForTheLoaderAndGetsTheHeaderForTheFirmware) {
    std::uint8_t* image = builtInImage();
    EXPECT_EQ(std::vector<std::uint8_t>(image, image + 6),
              (std::vector<std::uint8_t>{0x02, 0x02, 0x10, 0x02, 0x13, 0xB0}));
    image[BuiltInImageLength] = 0xEE;
    TransferJob job{.capacity = ImageCapacity,
                    .image = {image, BuiltInImageLength + 1},
                    .imageLength = BuiltInImageLength};

    const ImagePlan download = planImage(job, PhaseDownload);
    EXPECT_TRUE(download.failure.empty());
    EXPECT_EQ(download.start, image);
    EXPECT_EQ(download.length, 5696u);
    EXPECT_FALSE(download.headerInFront);
    EXPECT_EQ(image[5695], 0);
    EXPECT_EQ(job.imageLength, 5695u);

    const ImagePlan update = planImage(job, PhaseUpdate);
    EXPECT_TRUE(update.failure.empty());
    EXPECT_EQ(update.length, 5728u);
    EXPECT_TRUE(update.headerInFront);
}

TEST(ImagePlan, HeaderAlreadyPresentIsSkippedForTheLoaderAndNotAddedForTheFirmware) {
    std::vector<std::uint8_t> storage = withHeader(1000);
    TransferJob job{.capacity = ImageCapacity, .image = storage, .imageLength = 1000};
    const ImagePlan download = planImage(job, PhaseDownload);
    EXPECT_EQ(download.start, storage.data() + 32);
    EXPECT_EQ(download.length, 968u);
    const ImagePlan update = planImage(job, PhaseUpdate);
    EXPECT_EQ(update.start, storage.data());
    EXPECT_EQ(update.length, 1000u);
    EXPECT_FALSE(update.headerInFront);
}

TEST(ImagePlan, SizeLimitsOfBothPhases) {
    std::vector<std::uint8_t> storage;
    TransferJob fits = jobFor(storage, 8160);
    EXPECT_TRUE(planImage(fits, PhaseUpdate).failure.empty());
    TransferJob tooLong = jobFor(storage, 8162);
    EXPECT_EQ(planImage(tooLong, PhaseUpdate).failure, messages::FirmwareTooLong);

    // The loader's test counts the stored image, header included, before removing the header.
    std::vector<std::uint8_t> headed = withHeader(8200);
    TransferJob job{.capacity = ImageCapacity, .image = headed, .imageLength = 8200};
    EXPECT_EQ(planImage(job, PhaseDownload).failure, messages::FirmwareTooLong);
}

TEST(ImagePlan, MissingImageAndShortImages) {
    TransferJob none{.capacity = ImageCapacity};
    EXPECT_EQ(planImage(none, PhaseDownload).failure, messages::MemoryNotEnough);
    EXPECT_EQ(planImage(none, PhaseUpdate).failure, messages::MemoryNotEnough);

    // Shorter than the header: never compared, so the header is sent in front.
    std::vector<std::uint8_t> storage(BootHeader.begin(), BootHeader.begin() + 17);
    storage.push_back(0xFF);
    EXPECT_FALSE(hasBootHeader(storage.data(), 17));
    TransferJob job{.capacity = ImageCapacity, .image = storage, .imageLength = 17};
    const ImagePlan update = planImage(job, PhaseUpdate);
    EXPECT_EQ(update.length, 18u + 32u);
    EXPECT_EQ(storage[17], 0);
}

// Storage that has no byte past an odd image never gets the pad written into it; the plan fails
// as for storage that could not be had.
TEST(ImagePlan, PadIsStoredOnlyWhereTheStorageHasRoomForIt) {
    std::vector<std::uint8_t> storage(18, 0x11);
    TransferJob exact{
        .capacity = ImageCapacity, .image = std::span(storage).first(17), .imageLength = 17};
    EXPECT_EQ(planImage(exact, PhaseUpdate).failure, messages::MemoryNotEnough);
    EXPECT_EQ(storage[17], 0x11);
    TransferJob claimsMore{.capacity = ImageCapacity, .image = storage, .imageLength = 40};
    EXPECT_EQ(planImage(claimsMore, PhaseDownload).failure, messages::MemoryNotEnough);
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
