// Binary image files: saving the job's image, loading one into a buffer the image subsystem owns,
// temporary names in the start-up directory, and an image taken from a HEX file through one.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <limits>
#include <string>
#include <vector>

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

using Bytes = std::vector<std::uint8_t>;

TransferJob builtInJob() {
    TransferJob job;
    job.image = builtInImage();
    job.imageLength = BuiltInImageLength;
    return job;
}

// ---------------------------------------------------------------------------------------------
// Saving

TEST(SaveImage, SaveThatFailsLeavesNoFile) {
    TempDir dir;
    writeText(dir / "out.bin", "older content");
    TransferJob withoutBytes;
    withoutBytes.imageLength = 100;  // as a failed load leaves it
    EXPECT_FALSE(saveImageAsBin(withoutBytes, dir / "out.bin", true));
    EXPECT_FALSE(fs::exists(dir / "out.bin"));
    EXPECT_FALSE(saveImageAsBin(builtInJob(), dir / "no" / "out.bin", false));

    // The file-size limit makes the system refuse the write partway, as a full disk would.
    writeText(dir / "out.bin", "older content");
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = ::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 1000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool savedOk = saveImageAsBin(builtInJob(), dir / "out.bin", true);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::signal(SIGXFSZ, previousHandler);
    EXPECT_FALSE(savedOk);
    EXPECT_FALSE(fs::exists(dir / "out.bin"));
}

// ---------------------------------------------------------------------------------------------
// Loading

struct Loading {
    TempDir dir;
    RecordingWindow window;
    ImageStore store;
    TransferJob job = builtInJob();

    bool load(const fs::path& file) { return loadImageFile(window, file, job, store); }
    bool loadBytes(const Bytes& bytes) {
        writeBytes(dir / "image.bin", bytes);
        return load(dir / "image.bin");
    }
    Bytes jobBytes() const { return {job.image, job.image + job.imageLength}; }
};

TEST(LoadImage, FileBecomesTheJobsImageInABufferTheStoreOwns) {
    Loading l;
    ASSERT_TRUE(l.loadBytes({5, 4, 3, 2, 1}));
    EXPECT_EQ(l.jobBytes(), (Bytes{5, 4, 3, 2, 1}));
    EXPECT_EQ(l.job.image, l.store.buffer.get());
    // The spare byte takes the even-length pad inside the buffer (the sanitizer build sees it).
    l.job.capacity = ImageCapacity;
    EXPECT_EQ(planImage(l.job, PhaseDownload).length, 6u);
    EXPECT_EQ(l.job.image[5], 0);

    // A second load replaces the first; the sanitizer build reports the first if it leaks.
    ASSERT_TRUE(l.loadBytes({9, 9}));
    EXPECT_EQ(l.jobBytes(), (Bytes{9, 9}));
    EXPECT_EQ(l.job.image, l.store.buffer.get());
    ASSERT_TRUE(l.loadBytes({}));
    EXPECT_EQ(l.job.imageLength, 0u);
    EXPECT_TRUE(l.window.boxes.empty());
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
        ASSERT_TRUE(l.loadBytes({1, 2, 3}));
        writeBytes(l.dir / "huge.bin", {});
        fs::resize_file(l.dir / "huge.bin", size);
        EXPECT_FALSE(l.load(l.dir / "huge.bin")) << size;
        EXPECT_EQ(l.window.boxes, (std::vector<ShownBox>{errorBox(messages::MemoryNotEnough)}))
            << size;
        EXPECT_EQ(l.job.image, nullptr) << size;
        EXPECT_EQ(l.store.buffer, nullptr) << size;
        EXPECT_EQ(l.job.imageLength, MaxLength) << size;
        // What a phase then makes of the job: nothing is sent.
        EXPECT_EQ(planImage(l.job, PhaseUpdate).failure, messages::MemoryNotEnough);
    }
}

// ---------------------------------------------------------------------------------------------
// Temporary names

TEST(TempName, FirstOfTheTenNamesThatNamesNothingIsChosen) {
    TempDir dir;
    const StartupDirectory startup{dir.path.string()};
    const auto tempName = [&](int digit) {
        return dir.path.string() + "/ZQ417Fw_Temp" + std::to_string(digit);
    };
    std::string name;
    ASSERT_TRUE(findFreeTempName(startup, name));
    EXPECT_EQ(name, tempName(0));

    writeText(tempName(0), "");
    writeText(tempName(2), "");
    ASSERT_TRUE(findFreeTempName(startup, name));
    EXPECT_EQ(name, tempName(1));

    // A directory or a link to nowhere of that name is taken as well.
    fs::create_directory(tempName(1));
    fs::create_symlink(dir / "nowhere", tempName(3));
    ASSERT_TRUE(findFreeTempName(startup, name));
    EXPECT_EQ(name, tempName(4));

    for (int digit = 4; digit <= 9; ++digit) {
        writeText(tempName(digit), "");
    }
    name = "unchanged";
    EXPECT_FALSE(findFreeTempName(startup, name));
    EXPECT_FALSE(findFreeTempName(StartupDirectory{}, name));
    EXPECT_EQ(name, "unchanged");
}

// ---------------------------------------------------------------------------------------------
// An image from a HEX file, through a temporary file

TEST(ImageSource, RefusedHexSaysWhereAndLeavesTheJobAndDirectoryAlone) {
    Loading l;
    TempDir startupDir;
    const StartupDirectory startup{startupDir.path.string()};
    const auto from = [&](const char* name, const StartupDirectory& where) {
        return loadImageSource(l.window, l.dir / name, where, l.job, l.store);
    };
    writeText(l.dir / "bad.hex", hexRecord(0, {1}) + hexRecord(1, {2}, 0x04) + EndRecord);
    const ImageSource source = from("bad.hex", startup);
    EXPECT_EQ(source.failure, ImageSourceFailure::InvalidHex);
    EXPECT_EQ(source.hexFault, HexFault::UnsupportedType);
    EXPECT_EQ(source.hexFaultRecord, 2u);
    EXPECT_TRUE(startupDir.names().empty());
    EXPECT_EQ(l.job.image, builtInImage());
    EXPECT_TRUE(l.window.boxes.empty());
    EXPECT_EQ(from("bad.hex", StartupDirectory{}).failure, ImageSourceFailure::NoTempName);
    EXPECT_EQ(from("gone.hex", startup).failure, ImageSourceFailure::CannotReadHex);
}

}  // namespace
}  // namespace zq::test
