// The file commands of zq417-flash, and an image file flashed with --image that must reach the
// board byte for byte or be refused before the port is touched.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

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
using Json = nlohmann::json;

CliRun run(std::vector<std::string> args, Platform& platform) {
    return runCliWith(std::move(args), platform);
}

Bytes randomImage(std::size_t length, unsigned seed) {
    std::mt19937 random(seed);
    Bytes image(length);
    for (std::uint8_t& b : image) {
        b = static_cast<std::uint8_t>(random());
    }
    return image;
}

Bytes padded(Bytes image) {
    image.resize(image.size() + image.size() % 2, 0);
    return image;
}

// A file of 4 GiB that takes no room: what is too long to read must never be read.
void writeHuge(const fs::path& path) {
    writeBytes(path, {});
    fs::resize_file(path, std::uint64_t{1} << 32);
}

// ---------------------------------------------------------------------------------------------
// hex2bin and save-bin

// A conversion that fails, or that would write over its own input, says why in one line and
// leaves every file as it was: an existing output, a link and the file it points to, the input.
TEST(FileCommands, FailedOrRefusedOutputSaysWhyAndLeavesEveryFileByteForByte) {
    TempDir dir;
    sim::SimulatedLine line;
    const auto path = [&](const char* name) { return (dir / name).string(); };
    writeText(dir / "good.hex", ":0400000001020304F2\r\n:00000001FF\r\n");
    writeText(dir / "bad.hex", hexRecord(0, {1, 2}) + hexRecord(2, {3}, 0, 1) + EndRecord);
    TempDir elsewhere;
    const std::string huge = (elsewhere / "huge.hex").string();
    writeHuge(huge);
    writeText(dir / "out.bin", "older output");
    writeText(dir / "target.bin", "linked file");
    fs::create_symlink("target.bin", dir / "link.bin");
    fs::create_symlink(dir / "good.hex", dir / "alias.hex");
    // Every name with what it holds, through links.
    const auto files = [&] {
        std::vector<std::string> found;
        for (const std::string& name : dir.names()) {
            const Bytes bytes = readBytes(dir / name);
            found.push_back(name + ": " + std::string(bytes.begin(), bytes.end()));
        }
        std::ranges::sort(found);
        return found;
    };
    const std::vector<std::string> before = files();
    struct Case {
        std::vector<std::string> args;
        std::string err;
        ExitStatus status = ExitFailed;
    };
    for (const Case& c : {
             // An input that is no image is refused as info refuses it.
             Case{{"hex2bin", path("bad.hex"), path("out.bin")},
                  path("bad.hex") + ": not an Intel HEX image this tool takes: record 2: the "
                                    "checksum does not add up",
                  ExitImage},
             Case{{"hex2bin", huge, path("out.bin")},
                  huge + ": an Intel HEX text of 4294967296 bytes, more than the 1048576 taken; "
                         "the file was not read"},
             Case{{"hex2bin", path("good.hex"), path("no/out.bin")},
                  path("no/out.bin") + ": cannot be written: create failed: No such file or "
                                       "directory"},
             Case{{"hex2bin", path("good.hex"), "/dev/full"},
                  "/dev/full: cannot be written: write failed: No space left on device"},
             Case{{"hex2bin", path("alias.hex"), path("good.hex")},
                  path("good.hex") + ": this is the input file " + path("alias.hex") +
                      " itself; name another output file"},
             Case{{"save-bin", path("alias.hex"), "--image", path("good.hex")},
                  path("alias.hex") + ": this is the input file " + path("good.hex") +
                      " itself; name another output file"},
         }) {
        const CliRun r = run(c.args, line);
        EXPECT_EQ(r.status, c.status) << c.err;
        EXPECT_EQ(r.out + r.err, c.err + "\n");
        EXPECT_EQ(files(), before) << c.err;
    }
    // A conversion that succeeds says nothing and replaces the file the link leads to (a relative
    // link, from the link's directory); the link stays.
    const CliRun good = run({"hex2bin", path("good.hex"), path("link.bin")}, line);
    EXPECT_EQ(good.status, ExitSuccess);
    EXPECT_EQ(good.out + good.err, "");
    EXPECT_EQ(fs::read_symlink(dir / "link.bin"), "target.bin");
    EXPECT_EQ(readBytes(dir / "target.bin"), (Bytes{1, 2, 3, 4}));
}

// The header goes in front only when asked, and never twice.
TEST(FileCommands, SaveBinWritesTheBuiltInOrTheGivenImage) {
    TempDir dir;
    sim::SimulatedLine line;
    const Bytes builtIn(builtInImage(), builtInImage() + BuiltInImageLength);
    writeBytes(dir / "headed.bin", withBootHeader({1, 2, 3}));
    const std::string out = (dir / "out.bin").string();
    const auto in = [&](const char* name) { return (dir / name).string(); };
    struct Case {
        std::vector<std::string> args;
        Bytes saved;
    };
    for (const Case& c : {Case{{"save-bin", out}, builtIn},
                          Case{{"save-bin", out, "--with-header"}, withBootHeader(builtIn)},
                          Case{{"save-bin", out, "--with-header", "--image", in("headed.bin")},
                               withBootHeader({1, 2, 3})}}) {
        ASSERT_EQ(run(c.args, line).status, ExitSuccess);
        EXPECT_EQ(readBytes(out), c.saved);
    }
}

// ---------------------------------------------------------------------------------------------
// Flashing an image file

// HEX is told by its content whatever the name, converted in memory (nothing is written beside
// it) and reaches the loader and then the firmware's EEPROM.
TEST(FlashImageFile, HexTextReachesTheBoardWhateverItsName) {
    TempDir dir;
    const Bytes image = randomImage(3001, 5);
    const fs::path file = dir / "fw.bin";
    std::string hex;
    for (std::size_t at = 0; at < image.size(); at += 16) {
        hex +=
            hexRecord(static_cast<std::uint16_t>(at),
                      Bytes(image.begin() + at, image.begin() + std::min(image.size(), at + 16)));
    }
    writeText(file, hex + EndRecord);
    sim::SimulatedLine line({.mode = sim::BoardMode::Download});
    const CliRun r = run({"download", "--image", file.string()}, line);
    ASSERT_EQ(r.status, ExitSuccess) << r.err;
    EXPECT_EQ(r.out, std::string(messages::Success.download) + "\n");
    EXPECT_TRUE(
        r.err.starts_with("Image: " + file.string() +
                          ", 3001 bytes, SHA-256 of these bytes (before pad and boot header) "
                          "677b229212ad5da8cbaf969cf6b9df75526932584b50ade68725ab87f5a379fd\n"))
        << r.err;
    EXPECT_EQ(line.board.loadedImage(), padded(image));
    EXPECT_EQ(line.board.programmedPayload(), withBootHeader(padded(image)));
    EXPECT_EQ(dir.names(), std::vector<std::string>{"fw.bin"});
}

// Nothing reaches the board from a file that cannot be an image, nor from one the operation
// would refuse: not even the handshake. Every kind of subcommand that takes an image file says
// which one it could not open and why, and writes no output.
TEST(FlashImageFile, ImageThatCannotBeUsedStopsTheRunBeforeThePortOrAnyOutput) {
    TempDir dir;
    const auto at = [&](const char* name) { return (dir / name).string(); };
    writeText(dir / "bad.hex", hexRecord(0, {1, 2}) + hexRecord(2, {3}, 0, 1) + EndRecord);
    writeText(dir / "notes.txt", "Release notes\nThis build fixes the timer.\n");
    writeText(dir / "fw.srec", "S00F000068656C6C6F202020202000003C\nS9030000FC\n");
    writeBytes(dir / "empty.bin", {});
    writeText(dir / "empty.hex", EndRecord);
    writeHuge(dir / "huge.bin");
    writeBytes(dir / "long.bin", randomImage(8180, 1));
    const std::string noBytes = std::string(messages::ReadImageFileFail) + "\n";
    const std::string tooLong = std::string(messages::FirmwareTooLong) + "\n";
    const std::string cannotOpen = std::string(messages::CannotOpenImageFile) + "\n" +
                                   at("missing.hex") +
                                   ": cannot be opened: No such file or directory\n";
    struct Case {
        std::vector<std::string> command;
        std::string file;
        std::string err;
    };
    for (const Case& c : {
             Case{{"update"}, at("missing.hex"), cannotOpen},
             Case{{"info"}, at("missing.hex"), cannotOpen},
             Case{{"save-bin", at("out.bin")}, at("missing.hex"), cannotOpen},
             Case{{"update"},
                  at("bad.hex"),
                  at("bad.hex") + ": not an Intel HEX image this tool takes: record 2: the "
                                  "checksum does not add up\n"},
             Case{{"update"},
                  at("notes.txt"),
                  at("notes.txt") +
                      ": mostly printable text, neither Intel HEX nor machine code; --force "
                      "would take it as a binary image as it stands\n"},
             Case{{"update"},
                  at("fw.srec"),
                  at("fw.srec") +
                      ": Motorola S-records, not Intel HEX; convert them first: "
                      "objcopy -I srec -O ihex " +
                      at("fw.srec") + " " + at("fw.hex") + "\n"},
             Case{{"update"},
                  at("empty.bin"),
                  noBytes + at("empty.bin") + ": no image bytes in it\n"},
             Case{{"download"},
                  at("empty.hex"),
                  noBytes + at("empty.hex") + ": no image bytes in it\n"},
             Case{{"download"},
                  at("huge.bin"),
                  tooLong + at("huge.bin") +
                      ": 4294967296 bytes, more than the 8192 any operation takes; the file "
                      "was not read\n"},
             Case{{"update"},
                  at("long.bin"),
                  tooLong + at("long.bin") +
                      ": 8212 bytes to program with the boot header, more than the 8192 an "
                      "Update takes\n"},
         }) {
        sim::SimulatedLine line;
        std::vector<std::string> args = c.command;
        args.insert(args.end(), {"--image", c.file});
        const CliRun r = run(args, line);
        EXPECT_EQ(r.status, ExitImage) << c.file;
        EXPECT_EQ(r.out + r.err, c.err);
        EXPECT_TRUE(line.events.empty()) << c.file;
    }
    EXPECT_FALSE(fs::exists(dir / "out.bin"));

    // Asked for, the text goes as it stands; broken HEX and S-records never do, as their text is
    // no code.
    for (const char* file : {"bad.hex", "fw.srec"}) {
        sim::SimulatedLine refusing({.mode = sim::BoardMode::Update});
        EXPECT_EQ(run({"update", "--force", "--image", at(file)}, refusing).status, ExitImage);
        EXPECT_TRUE(refusing.events.empty());
    }
    sim::SimulatedLine line({.mode = sim::BoardMode::Update});
    const CliRun forced = run({"update", "--force", "--image", at("notes.txt")}, line);
    ASSERT_EQ(forced.status, ExitSuccess) << forced.err;
    EXPECT_EQ(line.board.programmedPayload(), withBootHeader(padded(readBytes(dir / "notes.txt"))));
}

// ---------------------------------------------------------------------------------------------
// info

TEST(ImageInfo, TellsFormatLengthsFitAndSha256AsTextAndAsJson) {
    TempDir dir;
    sim::SimulatedLine line;
    const CliRun text = run({"info"}, line);
    ASSERT_EQ(text.status, ExitSuccess) << text.err;
    EXPECT_EQ(
        text.out,
        "Image:          built-in\n"
        "Format:         binary\n"
        "Length:         5695 bytes\n"
        "Padded length:  5696 bytes\n"
        "Boot header:    no\n"
        "Download:       fits (5696 of 8192 bytes)\n"
        "Update:         fits (5728 of 8192 bytes)\n"
        "SHA-256:        cc956afc329650fb6a7efa3b9e34e849536de0905552a68273a79924b6ede108 (of "
        "the image bytes, before pad and boot header)\n");

    // Records at 0x0010 and 0x0100: the image runs from address 0 to the highest byte.
    writeText(dir / "app.a51", hexRecord(0x0100, randomImage(4, 4)) +
                                   hexRecord(0x0010, randomImage(16, 3)) + EndRecord);
    EXPECT_TRUE(run({"info", "--image", (dir / "app.a51").string()}, line)
                    .out.starts_with("Image:          " + (dir / "app.a51").string() +
                                     "\nFormat:         Intel HEX, 3 records, addresses 0x0010 to "
                                     "0x0103\nLength:         260 bytes\n"));
    writeHuge(dir / "huge.bin");
    EXPECT_TRUE(run({"info", "--image", (dir / "huge.bin").string()}, line)
                    .out.ends_with("Download:       too long (4294967296 of 8192 bytes)\n"
                                   "Update:         too long (4294967328 of 8192 bytes)\n"
                                   "SHA-256:        not computed: the file is too long to be "
                                   "read\n"));

    const auto info = [&](const std::string& file, int status) {
        const CliRun r = run({"info", "--json", "--image", (dir / file).string()}, line);
        EXPECT_EQ(r.status, status) << r.err;
        return Json::parse(r.out);
    };
    // The same facts as the text, as numbers; a binary image that has its header has no HEX
    // records and is measured with that header.
    const Json hex = info("app.a51", ExitSuccess);
    EXPECT_EQ((Json{hex.at("format"), hex.at("hex"), hex.at("length"), hex.at("padded_length"),
                    hex.at("update")}),
              (Json{"intel-hex",
                    {{"records", 3}, {"lowest_address", 0x10}, {"highest_address", 0x103}},
                    260,
                    260,
                    {{"fits", true}, {"length", 292}}}));
    writeBytes(dir / "headed.bin", withBootHeader(randomImage(99, 6)));
    const Json headed = info("headed.bin", ExitSuccess);
    EXPECT_EQ((Json{headed.at("format"), headed.at("hex"), headed.at("padded_length"),
                    headed.at("boot_header"), headed.at("update")}),
              (Json{"binary", nullptr, 132, true, {{"fits", true}, {"length", 132}}}));
    EXPECT_EQ(info("huge.bin", ExitImage).at("download"),
              (Json{{"fits", false}, {"length", 4294967296}}));
    EXPECT_EQ(info("missing.hex", ExitImage).at("refusal"),
              (Json{{"box", messages::CannotOpenImageFile},
                    {"reason", (dir / "missing.hex").string() +
                                   ": cannot be opened: No such file or directory"}}));

    // A name that is not UTF-8 still makes valid JSON.
    const fs::path odd = dir / "\xff\x1b.bin";
    writeBytes(odd, randomImage(64, 7));
    const std::string oddName = (dir / "\\xff\x1b.bin").string();
    EXPECT_EQ(info(odd.filename().string(), ExitSuccess).at("image"), oddName);
    EXPECT_TRUE(line.events.empty());
}

}  // namespace
}  // namespace zq::test
