// The file commands of zq417-flash, and an image file flashed with --image that must reach the
// board byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "app/cli/command_line.h"
#include "image/built_in_image.h"
#include "sim/simulated_line.h"
#include "support/cli_run.h"
#include "support/image_files.h"
#include "text/messages.h"

namespace zq::test {
namespace {

namespace fs = std::filesystem;

using Bytes = std::vector<std::uint8_t>;

CliRun run(std::vector<std::string> args, Platform& platform, const TempDir& startup) {
    return runCliWith(std::move(args), platform,
                      {.startup = StartupDirectory{startup.path.string()}});
}

Bytes randomImage(std::size_t length, unsigned seed) {
    std::mt19937 random(seed);
    Bytes image(length);
    for (std::uint8_t& b : image) {
        b = static_cast<std::uint8_t>(random());
    }
    return image;
}

// The image as HEX text in records of 16 bytes from address 0.
std::string asHex(const Bytes& image) {
    std::string text;
    for (std::size_t at = 0; at < image.size(); at += 16) {
        const std::size_t end = std::min(image.size(), at + 16);
        text +=
            hexRecord(static_cast<std::uint16_t>(at), Bytes(image.data() + at, image.data() + end));
    }
    return text + EndRecord;
}

Bytes padded(Bytes image) {
    image.resize(image.size() + image.size() % 2, 0);
    return image;
}

// ---------------------------------------------------------------------------------------------
// hex2bin and save-bin

TEST(FileCommands, HexToBinWritesTheImageSilentlyOrOneLineSayingWhyWithTheOutputAsItWas) {
    TempDir dir;
    sim::SimulatedLine line;
    writeText(dir / "good.hex", ":0400000001020304F2\r\n:00000001FF\r\n");
    writeText(dir / "bad.hex", hexRecord(0, {1, 2}) + hexRecord(2, {3}, 0, 1) + EndRecord);
    const auto hexToBin = [&](const std::string& input, const fs::path& output) {
        return run({"hex2bin", (dir / input).string(), output.string()}, line, dir);
    };
    const CliRun good = hexToBin("good.hex", dir / "out.bin");
    EXPECT_EQ(good.status, cli::ExitSuccess);
    EXPECT_EQ(good.out + good.err, "");
    EXPECT_EQ(readBytes(dir / "out.bin"), (Bytes{1, 2, 3, 4}));

    struct Case {
        std::string input;
        fs::path output;
        std::string err;
    };
    for (const Case& c :
         {Case{"bad.hex", dir / "out.bin",
               (dir / "bad.hex").string() + ": not an Intel HEX image this tool takes: record 2: "
                                            "the checksum does not add up"},
          Case{"missing.hex", dir / "out.bin", (dir / "missing.hex").string() + ": cannot be read"},
          Case{"good.hex", dir / "no" / "out.bin",
               (dir / "no" / "out.bin").string() + ": cannot be written"}}) {
        const CliRun r = hexToBin(c.input, c.output);
        EXPECT_EQ(r.status, cli::ExitFailed) << c.input;
        EXPECT_EQ(r.err, c.err + "\n");
        // The output the first run wrote stays as it was; none is made where there was none.
        if (c.output == dir / "out.bin") {
            EXPECT_EQ(readBytes(c.output), (Bytes{1, 2, 3, 4})) << c.input;
        } else {
            EXPECT_FALSE(fs::exists(c.output)) << c.input;
        }
    }
    EXPECT_EQ(run({"hex2bin", (dir / "bad.hex").string()}, line, dir).status, cli::ExitUsage);
    EXPECT_TRUE(line.events.empty());
}

// The header goes in front only when asked, and never twice.
TEST(FileCommands, SaveBinWritesTheBuiltInOrTheGivenImage) {
    TempDir dir;
    sim::SimulatedLine line;
    const Bytes builtIn(builtInImage(), builtInImage() + BuiltInImageLength);
    const Bytes image = randomImage(100, 7);
    writeText(dir / "image.hex", asHex(image));
    writeBytes(dir / "headed.bin", withBootHeader({1, 2, 3}));
    const std::string out = (dir / "out.bin").string();
    const auto in = [&](const char* name) { return (dir / name).string(); };
    struct Case {
        std::vector<std::string> args;
        Bytes saved;
    };
    for (const Case& c : {Case{{"save-bin", out}, builtIn},
                          Case{{"save-bin", out, "--with-header"}, withBootHeader(builtIn)},
                          Case{{"save-bin", out, "--image", in("image.hex")}, image},
                          Case{{"save-bin", out, "--with-header", "--image", in("image.hex")},
                               withBootHeader(image)},
                          Case{{"save-bin", out, "--with-header", "--image", in("headed.bin")},
                               withBootHeader({1, 2, 3})}}) {
        ASSERT_EQ(run(c.args, line, dir).status, cli::ExitSuccess);
        EXPECT_EQ(readBytes(out), c.saved);
    }

    const CliRun missing = run({"save-bin", in("d.bin"), "--image", in("none.bin")}, line, dir);
    EXPECT_EQ(missing.status, cli::ExitFailed);
    EXPECT_EQ(missing.err, std::string(messages::CannotOpenImageFile) + "\n");
    EXPECT_FALSE(fs::exists(dir / "d.bin"));
    EXPECT_TRUE(line.events.empty());
}

// A conversion that fails, or that would write over its own input, leaves every file as it was:
// an existing output, a link and the file it points to, the input itself.
TEST(FileCommands, FailedOrRefusedOutputLeavesEveryFileByteForByte) {
    TempDir dir;
    sim::SimulatedLine line;
    writeText(dir / "good.hex", ":0400000001020304F2\r\n:00000001FF\r\n");
    writeText(dir / "bad.hex", hexRecord(0, {1, 2}, 0, 1) + EndRecord);
    writeText(dir / "out.bin", "older output");
    writeText(dir / "target.bin", "linked file");
    fs::create_symlink(dir / "target.bin", dir / "link.bin");
    fs::create_symlink(dir / "good.hex", dir / "alias.hex");
    const auto path = [&](const char* name) { return (dir / name).string(); };
    const Bytes goodHex = readBytes(dir / "good.hex");
    const auto untouched = [&] {
        EXPECT_EQ(readBytes(dir / "good.hex"), goodHex);
        EXPECT_EQ(readBytes(dir / "out.bin"),
                  (Bytes{'o', 'l', 'd', 'e', 'r', ' ', 'o', 'u', 't', 'p', 'u', 't'}));
        EXPECT_EQ(fs::read_symlink(dir / "link.bin"), dir / "target.bin");
        EXPECT_EQ(readBytes(dir / "target.bin").size(), 11u);
        std::vector<std::string> names = dir.names();
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"alias.hex", "bad.hex", "good.hex", "link.bin",
                                                   "out.bin", "target.bin"}));
    };
    for (const char* output : {"out.bin", "link.bin"}) {
        const CliRun r = run({"hex2bin", path("bad.hex"), path(output)}, line, dir);
        EXPECT_EQ(r.status, cli::ExitFailed) << output;
        untouched();
    }
    struct Case {
        std::vector<std::string> args;
        std::string output;
        std::string input;
    };
    for (const Case& c :
         {Case{{"hex2bin", path("good.hex"), path("good.hex")}, path("good.hex"), path("good.hex")},
          Case{{"hex2bin", path("alias.hex"), path("good.hex")},
               path("good.hex"),
               path("alias.hex")},
          Case{{"hex2bin", path("good.hex"), (dir.path / "." / "good.hex").string()},
               (dir.path / "." / "good.hex").string(),
               path("good.hex")},
          Case{{"save-bin", path("alias.hex"), "--image", path("good.hex")},
               path("alias.hex"),
               path("good.hex")}}) {
        const CliRun r = run(c.args, line, dir);
        EXPECT_EQ(r.status, cli::ExitFailed) << c.output;
        EXPECT_EQ(r.err, c.output + ": this is the input file " + c.input +
                             " itself; name another output file\n");
        untouched();
    }
    // A conversion that succeeds replaces the link, never the file it points to.
    ASSERT_EQ(run({"hex2bin", path("good.hex"), path("link.bin")}, line, dir).status,
              cli::ExitSuccess);
    EXPECT_FALSE(fs::is_symlink(dir / "link.bin"));
    EXPECT_EQ(readBytes(dir / "link.bin"), (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(readBytes(dir / "target.bin").size(), 11u);
    EXPECT_TRUE(line.events.empty());
}

// ---------------------------------------------------------------------------------------------
// Flashing an image file

// A HEX image goes through a temporary file in the start-up directory; it must not take a name
// already there, and must be gone after.
TEST(FlashImageFile, ImageReachesTheBoardByteForByte) {
    struct Case {
        sim::BoardMode mode;
        const char* command;
        std::string_view success;
        std::string file;
    };
    for (const Case& c :
         {Case{sim::BoardMode::Update, "update", messages::Success.update, "image.bin"},
          Case{sim::BoardMode::Download, "download", messages::Success.download, "image.hex"}}) {
        TempDir dir;
        writeText(dir / "ZQ417Fw_Temp0", "someone else's");
        const Bytes image = randomImage(c.file == "image.bin" ? 1001 : 3000, 2);
        if (c.file == "image.bin") {
            writeBytes(dir / c.file, image);
        } else {
            writeText(dir / c.file, asHex(image));
        }
        sim::SimulatedLine line({.mode = c.mode});
        const CliRun r = run({c.command, "--image", (dir / c.file).string()}, line, dir);
        ASSERT_EQ(r.status, cli::ExitSuccess) << r.err;
        EXPECT_EQ(r.out, std::string(c.success) + "\n");
        EXPECT_EQ(line.board.programmedPayload(), withBootHeader(padded(image)));
        if (c.mode == sim::BoardMode::Download) {
            EXPECT_EQ(line.board.loadedImage(), padded(image));
        }
        std::vector<std::string> names = dir.names();
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"ZQ417Fw_Temp0", c.file}));
        EXPECT_EQ(readBytes(dir / "ZQ417Fw_Temp0").size(), 14u);
    }
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
    }
    EXPECT_EQ(dir.names(), std::vector<std::string>{"bad.hex"});
}

// Nothing to program, or far more than the board holds: refused before the port is opened.
// The 4 GiB files are sparse and are never read.
TEST(FlashImageFile, EmptyOrOversizedImageNeverReachesThePort) {
    TempDir dir;
    writeBytes(dir / "empty.bin", {});
    writeText(dir / "empty.hex", EndRecord);
    for (const char* name : {"huge.bin", "huge.hex"}) {
        writeBytes(dir / name, {});
        fs::resize_file(dir / name, std::uint64_t{1} << 32);
    }
    const std::string tooLong = std::string(messages::FirmwareTooLong) + "\n";
    struct Case {
        const char* command;
        std::string file;
        std::string err;
    };
    for (const Case& c :
         {Case{"update", "empty.bin", ""}, Case{"download", "empty.hex", ""},
          Case{"download", "huge.bin", tooLong}, Case{"update", "huge.hex", tooLong}}) {
        sim::SimulatedLine line;
        const std::string file = (dir / c.file).string();
        const CliRun r = run({c.command, "--image", file}, line, dir);
        EXPECT_EQ(r.status, cli::ExitFailed) << c.file;
        EXPECT_EQ(r.err, c.err.empty()
                             ? file + ": the image holds no bytes; nothing was sent to the board\n"
                             : c.err);
        EXPECT_TRUE(line.events.empty()) << c.file;
    }
    sim::SimulatedLine line;
    const CliRun hugeHex =
        run({"hex2bin", (dir / "huge.hex").string(), (dir / "out.bin").string()}, line, dir);
    EXPECT_EQ(hugeHex.status, cli::ExitFailed);
    EXPECT_EQ(hugeHex.err, (dir / "huge.hex").string() +
                               ": more than 4194304 bytes, too large for an Intel HEX image this "
                               "tool takes; not read\n");
    EXPECT_FALSE(fs::exists(dir / "out.bin"));
}

}  // namespace
}  // namespace zq::test
