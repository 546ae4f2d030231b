#include <gtest/gtest.h>

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
    job.image = storage.data();
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
    TransferJob job{.capacity = ImageCapacity, .image = image, .imageLength = BuiltInImageLength};

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
    TransferJob job{.capacity = ImageCapacity, .image = storage.data(), .imageLength = 1000};
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
    TransferJob job{.capacity = ImageCapacity, .image = headed.data(), .imageLength = 8200};
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
    TransferJob job{.capacity = ImageCapacity, .image = storage.data(), .imageLength = 17};
    const ImagePlan update = planImage(job, PhaseUpdate);
    EXPECT_EQ(update.length, 18u + 32u);
    EXPECT_EQ(storage[17], 0);
}

}  // namespace
}  // namespace zq
