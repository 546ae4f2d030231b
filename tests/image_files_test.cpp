// Binary image files: saving the job's image, loading one into a buffer the image subsystem owns,
// temporary names in the start-up directory, and an image taken from a HEX file through one.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "image/boot_header.h"
#include "image/built_in_image.h"
#include "image/image_source.h"
#include "image/load_image_file.h"
#include "image/save_image.h"
#include "image/temp_name.h"
#include "support/image_files.h"
#include "support/recording_window.h"
#include "text/messages.h"
#include "transfer/image_plan.h"

namespace zq::test {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> builtInBytes() {
    return {builtInImage(), builtInImage() + BuiltInImageLength};
}

std::vector<std::uint8_t> withHeader(std::vector<std::uint8_t> image) {
    image.insert(image.begin(), BootHeader.begin(), BootHeader.end());
    return image;
}

TransferJob builtInJob() {
    TransferJob job;
    job.image = builtInImage();
    job.imageLength = BuiltInImageLength;
    return job;
}

// ---------------------------------------------------------------------------------------------
// Saving

TEST(SaveImage, WritesTheImageWithTheHeaderInFrontOnlyWhenAskedAndMissing) {
    TempDir dir;
    const TransferJob job = builtInJob();
    ASSERT_TRUE(saveImageAsBin(job, dir / "plain.bin", false));
    EXPECT_EQ(readBytes(dir / "plain.bin"), builtInBytes());
    ASSERT_TRUE(saveImageAsBin(job, dir / "header.bin", true));
    EXPECT_EQ(readBytes(dir / "header.bin"), withHeader(builtInBytes()));

    // An image that starts with the header keeps exactly one.
    std::vector<std::uint8_t> headed = withHeader({1, 2, 3});
    TransferJob headedJob;
    headedJob.image = headed.data();
    headedJob.imageLength = static_cast<std::uint32_t>(headed.size());
    ASSERT_TRUE(saveImageAsBin(headedJob, dir / "headed.bin", true));
    EXPECT_EQ(readBytes(dir / "headed.bin"), headed);
}

// The file-size limit makes the system refuse the write partway, as a full disk would.
TEST(SaveImage, WriteThatDoesNotCompleteLeavesNoFile) {
    TempDir dir;
    writeText(dir / "out.bin", "older content");
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = ::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 1000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool saved_ok = saveImageAsBin(builtInJob(), dir / "out.bin", true);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::signal(SIGXFSZ, previousHandler);
    EXPECT_FALSE(saved_ok);
    EXPECT_FALSE(fs::exists(dir / "out.bin"));
}

TEST(SaveImage, JobWithoutItsBytesSavesNothing) {
    TempDir dir;
    TransferJob job;
    job.imageLength = 100;  // as a failed load leaves it
    EXPECT_FALSE(saveImageAsBin(job, dir / "out.bin", true));
    EXPECT_FALSE(fs::exists(dir / "out.bin"));
    EXPECT_FALSE(saveImageAsBin(builtInJob(), dir / "no" / "out.bin", false));
}

// ---------------------------------------------------------------------------------------------
// Loading

struct Loading {
    TempDir dir;
    RecordingWindow window;
    ImageStore store;
    TransferJob job = builtInJob();

    bool load(const fs::path& file) { return loadImageFile(window, file, job, store); }
    std::vector<std::uint8_t> jobBytes() const { return {job.image, job.image + job.imageLength}; }
};

TEST(LoadImage, FileBecomesTheJobsImageInABufferTheStoreOwns) {
    Loading l;
    const std::vector<std::uint8_t> first{5, 4, 3, 2, 1};
    writeBytes(l.dir / "a.bin", first);
    ASSERT_TRUE(l.load(l.dir / "a.bin"));
    EXPECT_EQ(l.jobBytes(), first);
    EXPECT_EQ(l.job.image, l.store.buffer.get());
    // The spare byte takes the even-length pad inside the buffer (the sanitizer build sees it).
    l.job.capacity = ImageCapacity;
    const ImagePlan plan = planImage(l.job, PhaseDownload);
    EXPECT_EQ(plan.length, 6u);
    EXPECT_EQ(l.job.image[5], 0);

    // A second load replaces the first; the sanitizer build reports the first if it leaks.
    const std::vector<std::uint8_t> second{9, 9};
    writeBytes(l.dir / "b.bin", second);
    ASSERT_TRUE(l.load(l.dir / "b.bin"));
    EXPECT_EQ(l.jobBytes(), second);
    EXPECT_EQ(l.job.image, l.store.buffer.get());
    EXPECT_TRUE(l.window.boxes.empty());

    writeBytes(l.dir / "empty.bin", {});
    ASSERT_TRUE(l.load(l.dir / "empty.bin"));
    EXPECT_EQ(l.job.imageLength, 0u);
}

TEST(LoadImage, FileThatCannotBeOpenedChangesNothing) {
    for (const char* name : {"missing.bin", "."}) {
        Loading l;
        EXPECT_FALSE(l.load(l.dir / name)) << name;
        EXPECT_EQ(l.window.boxes, (std::vector<ShownBox>{errorBox(messages::CannotOpenImageFile)}));
        EXPECT_EQ(l.job.image, builtInImage()) << name;
        EXPECT_EQ(l.job.imageLength, BuiltInImageLength) << name;
    }
}

// Sizes whose size + 1 does not fit in 32 bits: 4 GiB - 1 would wrap to a zero-byte buffer, and
// 4 GiB would pass for an empty image if cut to its low bits. Sparse files: no disk is used.
TEST(LoadImage, FileTooLargeToHoldFailsWithMemoryNotEnough) {
    const std::uint64_t MaxLength = std::numeric_limits<std::uint32_t>::max();
    for (const std::uint64_t size : {MaxLength, MaxLength + 1, MaxLength + 6}) {
        Loading l;
        ImageStore& store = l.store;
        writeBytes(l.dir / "first.bin", {1, 2, 3});
        ASSERT_TRUE(l.load(l.dir / "first.bin"));
        { std::ofstream(l.dir / "huge.bin").put('x'); }
        fs::resize_file(l.dir / "huge.bin", size);
        EXPECT_FALSE(l.load(l.dir / "huge.bin")) << size;
        EXPECT_EQ(l.window.boxes, (std::vector<ShownBox>{errorBox(messages::MemoryNotEnough)}))
            << size;
        EXPECT_EQ(l.job.image, nullptr) << size;
        EXPECT_EQ(store.buffer, nullptr) << size;
        EXPECT_EQ(l.job.imageLength, MaxLength) << size;
        // What a phase then makes of the job: nothing is sent.
        EXPECT_EQ(planImage(l.job, PhaseUpdate).failure, messages::MemoryNotEnough);
    }
}

// ---------------------------------------------------------------------------------------------
// Temporary names

std::string tempName(const TempDir& dir, int digit) {
    return (dir / ("ZQ417Fw_Temp" + std::to_string(digit))).string();
}

TEST(TempName, FirstNameThatNamesNothingIsChosen) {
    TempDir dir;
    const StartupDirectory startup{dir.path.string()};
    std::string name;
    ASSERT_TRUE(findFreeTempName(startup, name));
    EXPECT_EQ(name, dir.path.string() + "/ZQ417Fw_Temp0");

    writeText(tempName(dir, 0), "");
    writeText(tempName(dir, 2), "");
    ASSERT_TRUE(findFreeTempName(startup, name));
    EXPECT_EQ(name, tempName(dir, 1));

    // A directory or a link to nowhere of that name is taken as well.
    fs::create_directory(tempName(dir, 1));
    fs::create_symlink(dir / "nowhere", tempName(dir, 3));
    ASSERT_TRUE(findFreeTempName(startup, name));
    EXPECT_EQ(name, tempName(dir, 4));
}

TEST(TempName, AllTenTakenOrNoStartUpDirectoryGivesNoName) {
    TempDir dir;
    for (int digit = 0; digit <= 9; ++digit) {
        writeText(tempName(dir, digit), "");
    }
    std::string name = "unchanged";
    EXPECT_FALSE(findFreeTempName(StartupDirectory{dir.path.string()}, name));
    EXPECT_FALSE(findFreeTempName(StartupDirectory{}, name));
    EXPECT_EQ(name, "unchanged");
}

// ---------------------------------------------------------------------------------------------
// An image from a HEX file, through a temporary file

TEST(ImageSource, HexFileIsLoadedAndItsTemporaryFileIsGone) {
    Loading l;
    TempDir startupDir;
    writeText(startupDir / "ZQ417Fw_Temp0", "someone else's");
    writeText(l.dir / "image.HEX", hexRecord(0x0002, {7, 8, 9}) + EndRecord);
    const ImageSource source = loadImageSource(
        l.window, l.dir / "image.HEX", StartupDirectory{startupDir.path.string()}, l.job, l.store);
    ASSERT_TRUE(source.ok());
    EXPECT_EQ(source.tempName, (startupDir / "ZQ417Fw_Temp1").string());
    EXPECT_EQ(l.jobBytes(), (std::vector<std::uint8_t>{0, 0, 7, 8, 9}));
    EXPECT_EQ(startupDir.names(), std::vector<std::string>{"ZQ417Fw_Temp0"});
    EXPECT_EQ(readBytes(startupDir / "ZQ417Fw_Temp0").size(), 14u);
}

TEST(ImageSource, RefusedHexSaysWhereAndLeavesTheJobAndDirectoryAlone) {
    Loading l;
    TempDir startupDir;
    writeText(l.dir / "bad.hex", hexRecord(0, {1}) + hexRecord(1, {2}, 0x04) + EndRecord);
    const ImageSource source = loadImageSource(
        l.window, l.dir / "bad.hex", StartupDirectory{startupDir.path.string()}, l.job, l.store);
    EXPECT_EQ(source.failure, ImageSourceFailure::InvalidHex);
    EXPECT_EQ(source.hexFault, HexFault::UnsupportedType);
    EXPECT_EQ(source.hexFaultRecord, 2u);
    EXPECT_TRUE(startupDir.names().empty());
    EXPECT_EQ(l.job.image, builtInImage());
    EXPECT_TRUE(l.window.boxes.empty());

    const ImageSource noPlace =
        loadImageSource(l.window, l.dir / "bad.hex", StartupDirectory{}, l.job, l.store);
    EXPECT_EQ(noPlace.failure, ImageSourceFailure::NoTempName);
    const ImageSource missing = loadImageSource(
        l.window, l.dir / "gone.hex", StartupDirectory{startupDir.path.string()}, l.job, l.store);
    EXPECT_EQ(missing.failure, ImageSourceFailure::CannotReadHex);
}

}  // namespace
}  // namespace zq::test
