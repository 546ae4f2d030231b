// The file commands of zq417-flash, and an image file flashed with --image that must reach the
// board byte for byte.
#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli/command_line.h"
#include "image/boot_header.h"
#include "image/built_in_image.h"
#include "sim/simulated_line.h"
#include "support/cli_run.h"
#include "support/image_files.h"
#include "text/messages.h"

namespace zq::test {
namespace {

namespace fs = std::filesystem;

CliRun run(std::vector<std::string> args, Platform& platform, const TempDir& startup) {
    return runCliWith(std::move(args), platform,
                      {.startup = StartupDirectory{startup.path.string()}});
}

std::size_t lineCount(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

std::vector<std::uint8_t> randomImage(std::size_t length, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<std::uint8_t> image(length);
    for (std::uint8_t& b : image) {
        b = static_cast<std::uint8_t>(random());
    }
    return image;
}

// The image as HEX text in records of 16 bytes from address 0.
std::string asHex(const std::vector<std::uint8_t>& image) {
    std::string text;
    for (std::size_t at = 0; at < image.size(); at += 16) {
        const std::size_t end = std::min(image.size(), at + 16);
        text += hexRecord(static_cast<std::uint16_t>(at), {image.begin() + static_cast<long>(at),
                                                           image.begin() + static_cast<long>(end)});
    }
    return text + EndRecord;
}

std::vector<std::uint8_t> padded(std::vector<std::uint8_t> image) {
    if (image.size() % 2 != 0) {
        image.push_back(0);
    }
    return image;
}

std::vector<std::uint8_t> headed(const std::vector<std::uint8_t>& image) {
    std::vector<std::uint8_t> bytes(BootHeader.begin(), BootHeader.end());
    bytes.insert(bytes.end(), image.begin(), image.end());
    return bytes;
}

// ---------------------------------------------------------------------------------------------
// hex2bin and save-bin

TEST(FileCommands, HexToBinWritesTheImageAndSaysNothing) {
    TempDir dir;
    sim::SimulatedLine line;
    writeText(dir / "in.hex", ":0400000001020304F2\r\n:00000001FF\r\n");
    const CliRun r =
        run({"hex2bin", (dir / "in.hex").string(), (dir / "out.bin").string()}, line, dir);
    EXPECT_EQ(r.status, cli::ExitSuccess);
    EXPECT_EQ(r.out + r.err, "");
    EXPECT_EQ(readBytes(dir / "out.bin"), (std::vector<std::uint8_t>{1, 2, 3, 4}));
}

TEST(FileCommands, HexToBinFailureIsOneLineWithNoOutputLeft) {
    TempDir dir;
    sim::SimulatedLine line;
    writeText(dir / "bad.hex", hexRecord(0, {1, 2}) + hexRecord(2, {3}, 0, 1) + EndRecord);
    writeText(dir / "out.bin", "older");
    struct Case {
        std::string input;
        std::string says;
    };
    for (const Case& c : {Case{"bad.hex", "record 2: the checksum does not add up"},
                          Case{"missing.hex", "cannot be read"}}) {
        const CliRun r =
            run({"hex2bin", (dir / c.input).string(), (dir / "out.bin").string()}, line, dir);
        EXPECT_EQ(r.status, cli::ExitFailed) << c.input;
        EXPECT_EQ(lineCount(r.err), 1u) << r.err;
        EXPECT_EQ(r.err.rfind((dir / c.input).string() + ": ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(dir / "out.bin")) << c.input;
    }
    const CliRun unwritable =
        run({"hex2bin", (dir / "bad.hex").string(), (dir / "no" / "out.bin").string()}, line, dir);
    EXPECT_EQ(unwritable.status, cli::ExitFailed);
    EXPECT_EQ(lineCount(unwritable.err), 1u) << unwritable.err;

    EXPECT_EQ(run({"hex2bin", (dir / "bad.hex").string()}, line, dir).status, cli::ExitUsage);
    EXPECT_TRUE(line.events.empty());
}

TEST(FileCommands, SaveBinWritesTheBuiltInOrTheGivenImage) {
    TempDir dir;
    sim::SimulatedLine line;
    const std::vector<std::uint8_t> builtIn(builtInImage(), builtInImage() + BuiltInImageLength);
    ASSERT_EQ(run({"save-bin", (dir / "a.bin").string()}, line, dir).status, cli::ExitSuccess);
    EXPECT_EQ(readBytes(dir / "a.bin"), builtIn);
    ASSERT_EQ(run({"save-bin", (dir / "b.bin").string(), "--with-header"}, line, dir).status,
              cli::ExitSuccess);
    EXPECT_EQ(readBytes(dir / "b.bin"), headed(builtIn));

    const std::vector<std::uint8_t> image = randomImage(100, 7);
    writeText(dir / "image.hex", asHex(image));
    ASSERT_EQ(run({"save-bin", (dir / "c.bin").string(), "--with-header", "--image",
                   (dir / "image.hex").string()},
                  line, dir)
                  .status,
              cli::ExitSuccess);
    EXPECT_EQ(readBytes(dir / "c.bin"), headed(image));

    const CliRun missing = run(
        {"save-bin", (dir / "d.bin").string(), "--image", (dir / "none.bin").string()}, line, dir);
    EXPECT_EQ(missing.status, cli::ExitFailed);
    EXPECT_EQ(missing.err, std::string(messages::CannotOpenImageFile) + "\n");
    EXPECT_FALSE(fs::exists(dir / "d.bin"));
    EXPECT_TRUE(line.events.empty());
}

// ---------------------------------------------------------------------------------------------
// Flashing an image file

TEST(FlashImageFile, BinaryImageReachesTheBoardByteForByte) {
    TempDir dir;
    const std::vector<std::uint8_t> image = randomImage(1001, 1);
    writeBytes(dir / "image.bin", image);
    sim::SimulatedLine line;
    const CliRun r = run({"update", "--image", (dir / "image.bin").string()}, line, dir);
    ASSERT_EQ(r.status, cli::ExitSuccess) << r.err;
    EXPECT_EQ(r.out, std::string(messages::Success.update) + "\n");
    EXPECT_EQ(line.board.programmedPayload(), headed(padded(image)));
}

TEST(FlashImageFile, HexImageIsDownloadedAndItsTemporaryFileIsGone) {
    TempDir dir;
    const std::vector<std::uint8_t> image = randomImage(3000, 2);
    writeText(dir / "image.hex", asHex(image));
    sim::SimulatedLine line({.mode = sim::BoardMode::Download});
    const CliRun r = run({"download", "--image", (dir / "image.hex").string()}, line, dir);
    ASSERT_EQ(r.status, cli::ExitSuccess) << r.err;
    EXPECT_EQ(line.board.loadedImage(), padded(image));
    EXPECT_EQ(line.board.programmedPayload(), headed(padded(image)));
    EXPECT_EQ(dir.names(), std::vector<std::string>{"image.hex"});
}

TEST(FlashImageFile, ImageThatCannotBeUsedStopsTheRunBeforeThePort) {
    TempDir dir;
    writeText(dir / "bad.hex", hexRecord(0, {1, 2}) + ":00000001FF\n");
    struct Case {
        std::string file;
        std::string err;
    };
    for (const Case& c :
         {Case{"none.bin", std::string(messages::CannotOpenImageFile) + "\n"},
          Case{"bad.hex", (dir / "bad.hex").string() +
                              ": not an Intel HEX image this tool takes: record 2: the text ends "
                              "inside the record\n"}}) {
        sim::SimulatedLine line;
        const CliRun r = run({"update", "--image", (dir / c.file).string()}, line, dir);
        EXPECT_EQ(r.status, cli::ExitFailed) << c.file;
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(line.events.empty()) << c.file;
        EXPECT_TRUE(line.board.programmedPayload().empty()) << c.file;
    }
    EXPECT_EQ(dir.names(), std::vector<std::string>{"bad.hex"});
}

}  // namespace
}  // namespace zq::test
