// Binary image files: saving the job's image, loading one into a buffer the image subsystem owns,
// temporary names in the start-up directory, and an image taken from a HEX file through one.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <chrono>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "image/built_in_image.h"
#include "image/image_source.h"
#include "image/load_image_file.h"
#include "image/output_file.h"
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

std::string readText(const fs::path& path) {
    const Bytes bytes = readBytes(path);
    return {bytes.begin(), bytes.end()};
}

TransferJob builtInJob() {
    TransferJob job;
    useBuiltInImage(job);
    return job;
}

// ---------------------------------------------------------------------------------------------
// Saving

TEST(SaveImage, SaveThatFailsLeavesWhatWasThere) {
    TempDir dir;
    writeText(dir / "out.bin", "older content");
    TransferJob withoutBytes;
    withoutBytes.imageLength = 100;  // as a failed load leaves it
    EXPECT_FALSE(saveImageAsBin(withoutBytes, dir / "out.bin", true));
    EXPECT_EQ(readText(dir / "out.bin"), "older content");
    EXPECT_FALSE(saveImageAsBin(builtInJob(), dir / "no" / "out.bin", false));

    // The file-size limit makes the system refuse the write partway, as a full disk would.
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
    EXPECT_EQ(readText(dir / "out.bin"), "older content");
    EXPECT_EQ(dir.names(), std::vector<std::string>{"out.bin"});
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
    Bytes jobBytes() const { return {job.image.data(), job.image.data() + job.imageLength}; }
};

TEST(LoadImage, FileBecomesTheJobsImageInABufferTheStoreOwns) {
    Loading l;
    ASSERT_TRUE(l.loadBytes({5, 4, 3, 2, 1}));
    EXPECT_EQ(l.jobBytes(), (Bytes{5, 4, 3, 2, 1}));
    EXPECT_EQ(l.job.image.data(), l.store.buffer.get());
    // The spare byte takes the even-length pad inside the buffer (the sanitizer build sees it).
    l.job.capacity = ImageCapacity;
    EXPECT_EQ(planImage(l.job, PhaseDownload).length, 6u);
    EXPECT_EQ(l.job.image[5], 0);

    // A second load replaces the first; the sanitizer build reports the first if it leaks.
    ASSERT_TRUE(l.loadBytes({9, 9}));
    EXPECT_EQ(l.jobBytes(), (Bytes{9, 9}));
    EXPECT_EQ(l.job.image.data(), l.store.buffer.get());
    ASSERT_TRUE(l.loadBytes({}));
    EXPECT_EQ(l.job.imageLength, 0u);
    EXPECT_TRUE(l.window.boxes.empty());
}

TEST(LoadImage, FileThatCannotBeOpenedChangesNothing) {
    for (const char* name : {"missing.bin", "."}) {
        Loading l;
        EXPECT_FALSE(l.load(l.dir / name)) << name;
        EXPECT_EQ(l.window.boxes, (std::vector<ShownBox>{errorBox(messages::CannotOpenImageFile)}));
        EXPECT_EQ(l.job.image.data(), builtInImage()) << name;
        EXPECT_EQ(l.job.imageLength, BuiltInImageLength) << name;
    }
}

// Longer than any phase takes: refused from the size alone. The sparse files of 4 GiB and more
// use no disk; reading one would take seconds and gigabytes, and 4 GiB - 1 + 1 would wrap.
TEST(LoadImage, FileLongerThanAnyPhaseTakesIsRefusedWithoutBeingRead) {
    const std::uint64_t MaxLength = std::numeric_limits<std::uint32_t>::max();
    for (const std::uint64_t size : {MaxImageFileLength + 1, MaxLength, MaxLength + 1}) {
        Loading l;
        ASSERT_TRUE(l.loadBytes({1, 2, 3}));
        writeBytes(l.dir / "huge.bin", {});
        fs::resize_file(l.dir / "huge.bin", size);
        const auto started = std::chrono::steady_clock::now();
        EXPECT_FALSE(l.load(l.dir / "huge.bin")) << size;
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1)) << size;
        EXPECT_EQ(l.window.boxes, (std::vector<ShownBox>{errorBox(messages::FirmwareTooLong)}))
            << size;
        EXPECT_FALSE(l.job.hasImage()) << size;
        EXPECT_EQ(l.store.buffer, nullptr) << size;
        EXPECT_EQ(l.job.imageLength, std::min(size, MaxLength)) << size;
        // What a phase then makes of the job: nothing is sent.
        EXPECT_EQ(planImage(l.job, PhaseUpdate).failure, messages::MemoryNotEnough);
    }
    Loading l;
    writeBytes(l.dir / "longest.bin", Bytes(MaxImageFileLength, 7));
    EXPECT_TRUE(l.load(l.dir / "longest.bin"));
}

// ---------------------------------------------------------------------------------------------
// Temporary names

// Looking for the first free name and creating it exclusively agree: whatever takes a name (a
// file, a directory, a link even to nowhere) passes it over, up to the last of the ten.
TEST(TempName, FirstOfTheTenNamesThatNamesNothingIsChosen) {
    TempDir dir;
    const StartupDirectory startup{dir.path.string()};
    const auto tempName = [&](int digit) {
        return dir.path.string() + "/ZQ417Fw_Temp" + std::to_string(digit);
    };
    // Both agree on the first free name, or that there is none ("").
    const auto expectFirstFree = [&](const std::string& expected, const StartupDirectory& where) {
        std::string found;
        std::string created;
        OutputFile out;
        EXPECT_EQ(findFreeTempName(where, found), !expected.empty());
        EXPECT_EQ(createFreeTempFile(where, out, created) == SystemFile::Created::Yes,
                  !expected.empty());
        EXPECT_EQ(found, expected);
        EXPECT_EQ(created, expected);
        fs::remove(created);
    };
    expectFirstFree(tempName(0), startup);
    writeText(tempName(0), "");
    writeText(tempName(2), "");
    expectFirstFree(tempName(1), startup);
    fs::create_directory(tempName(1));
    fs::create_symlink(dir / "nowhere", tempName(3));
    expectFirstFree(tempName(4), startup);
    for (int digit = 4; digit <= 8; ++digit) {
        writeText(tempName(digit), "");
    }
    expectFirstFree(tempName(9), startup);
    writeText(tempName(9), "");
    expectFirstFree("", startup);
    expectFirstFree("", StartupDirectory{});
    EXPECT_FALSE(fs::exists(dir / "nowhere"));
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
    EXPECT_EQ(source.outcome.hex.fault, HexFault::UnsupportedType);
    EXPECT_EQ(source.outcome.hex.faultRecord, 2u);
    EXPECT_EQ(source.outcome.file, l.dir / "bad.hex");
    EXPECT_TRUE(startupDir.names().empty());
    EXPECT_EQ(l.job.image.data(), builtInImage());
    EXPECT_TRUE(l.window.boxes.empty());
    EXPECT_EQ(from("bad.hex", StartupDirectory{}).failure, ImageSourceFailure::NoTempName);
    EXPECT_EQ(from("gone.hex", startup).failure, ImageSourceFailure::CannotReadHex);
}

// Another program put a link to a file of its choosing at the first temporary name: the
// conversion passes the name over instead of writing through it, and removes its own file.
TEST(ImageSource, HexImageGoesThroughATemporaryFileNeverThroughALink) {
    Loading l;
    TempDir startupDir;
    writeText(l.dir / "victim", "not yours");
    writeText(l.dir / "image.hex", hexRecord(0, {1, 2, 3, 4}) + EndRecord);
    fs::create_symlink(l.dir / "victim", startupDir / "ZQ417Fw_Temp0");
    const ImageSource source =
        loadImageSource(l.window, l.dir / "image.hex", {startupDir.path.string()}, l.job, l.store);
    ASSERT_TRUE(source.ok());
    EXPECT_EQ(l.jobBytes(), (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(readText(l.dir / "victim"), "not yours");
    EXPECT_EQ(startupDir.names(), std::vector<std::string>{"ZQ417Fw_Temp0"});
    EXPECT_TRUE(l.window.boxes.empty());
}

}  // namespace
}  // namespace zq::test
