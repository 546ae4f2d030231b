// The file commands of zq417-flash, and an image file flashed with --image that must reach the
// board byte for byte.
#include <gtest/gtest.h>
#include <stdio.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <tuple>
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
          Case{"good.hex", dir / "no" / "out.bin",
               (dir / "no" / "out.bin").string() +
                   ": cannot be written: create failed: No such file or directory"},
          Case{"good.hex", "/dev/full",
               "/dev/full: cannot be written: write failed: No space left on device"}}) {
        const CliRun r = hexToBin(c.input, c.output);
        EXPECT_EQ(r.status, cli::ExitFailed) << c.input;
        EXPECT_EQ(r.err, c.err + "\n");
        // The output the first run wrote stays as it was; none is made where there was none.
        if (c.output == dir / "out.bin") {
            EXPECT_EQ(readBytes(c.output), (Bytes{1, 2, 3, 4})) << c.input;
        } else if (c.output != "/dev/full") {
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
    EXPECT_TRUE(line.events.empty());
}

// Every subcommand that takes an image file says which one it could not open and why, touches
// no board and writes no output.
TEST(FileCommands, ImageFileThatCannotBeOpenedIsNamedWithTheSystemsReasonByEveryCommand) {
    TempDir dir;
    const std::string missing = (dir / "missing.hex").string();
    const std::string out = (dir / "out.bin").string();
    for (std::vector<std::string> args : std::vector<std::vector<std::string>>{{"download"},
                                                                               {"update"},
                                                                               {"flash"},
                                                                               {"info"},
                                                                               {"info", "--json"},
                                                                               {"save-bin", out}}) {
        sim::SimulatedLine line;
        args.insert(args.end(), {"--image", missing});
        const CliRun r = run(args, line, dir);
        EXPECT_EQ(r.status, cli::ExitImage) << args[0];
        const std::string reason = missing + ": cannot be opened: No such file or directory";
        if (args[1] == "--json") {
            EXPECT_EQ(nlohmann::json::parse(r.out).at("refusal"),
                      (nlohmann::json{{"box", messages::CannotOpenImageFile}, {"reason", reason}}));
        } else {
            EXPECT_EQ(r.err, std::string(messages::CannotOpenImageFile) + "\n" + reason + "\n");
        }
        EXPECT_TRUE(line.events.empty()) << args[0];
        EXPECT_EQ(dir.names(), std::vector<std::string>{}) << args[0];
    }
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
    fs::create_symlink("target.bin", dir / "link.bin");
    fs::create_symlink(dir / "good.hex", dir / "alias.hex");
    const auto path = [&](const char* name) { return (dir / name).string(); };
    const Bytes goodHex = readBytes(dir / "good.hex");
    // No new name is left behind, and none is taken away.
    const auto sameNames = [&] {
        std::vector<std::string> names = dir.names();
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"alias.hex", "bad.hex", "good.hex", "link.bin",
                                                   "out.bin", "target.bin"}));
    };
    const auto untouched = [&] {
        EXPECT_EQ(readBytes(dir / "good.hex"), goodHex);
        EXPECT_EQ(readBytes(dir / "out.bin"),
                  (Bytes{'o', 'l', 'd', 'e', 'r', ' ', 'o', 'u', 't', 'p', 'u', 't'}));
        EXPECT_EQ(fs::read_symlink(dir / "link.bin"), "target.bin");
        EXPECT_EQ(readBytes(dir / "target.bin").size(), 11u);
        sameNames();
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
    // A conversion that succeeds replaces the file the link leads to (a relative link, from the
    // link's directory), and the link stays.
    ASSERT_EQ(run({"hex2bin", path("good.hex"), path("link.bin")}, line, dir).status,
              cli::ExitSuccess);
    EXPECT_EQ(fs::read_symlink(dir / "link.bin"), "target.bin");
    EXPECT_EQ(readBytes(dir / "target.bin"), (Bytes{1, 2, 3, 4}));
    sameNames();
    EXPECT_TRUE(line.events.empty());
}

// ---------------------------------------------------------------------------------------------
// Flashing an image file

// sha256sum's view of the bytes, as a user would check the identity line.
std::string sha256sumOf(const Bytes& bytes, const TempDir& dir) {
    writeBytes(dir / "sum.bin", bytes);
    const std::string command = "sha256sum '" + (dir / "sum.bin").string() + "'";
    FILE* pipe = ::popen(command.c_str(), "r");
    char digest[65] = {};
    const bool read = pipe != nullptr && std::fread(digest, 1, 64, pipe) == 64;
    if (pipe != nullptr) {
        ::pclose(pipe);
    }
    fs::remove(dir / "sum.bin");
    return read ? digest : "sha256sum failed";
}

// What objcopy makes of a HEX file; empty when it is not installed or refuses the file.
Bytes objcopyOf(const fs::path& hex, const fs::path& bin) {
    const std::string command = "objcopy -I ihex -O binary --gap-fill 0 '" + hex.string() + "' '" +
                                bin.string() + "' 2>/dev/null";
    return std::system(command.c_str()) == 0 ? readBytes(bin) : Bytes{};
}

// The image as a toolchain on Linux writes it: LF line ends, lower case, an extended linear
// address record and a start address record, and no line end after the end record.
std::string toolchainHex(const Bytes& image) {
    std::string text = hexRecord(0, {0x00, 0x00}, 0x04);
    text += hexRecord(0, {0x00, 0x00, 0x00, 0x00}, 0x05);
    text += asHex(image);
    std::string lf;
    for (const char c : text) {
        if (c != '\r') {
            lf += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    lf.pop_back();
    return lf;
}

std::string identity(const fs::path& file, const Bytes& image, const TempDir& dir) {
    return "Image: " + file.string() + ", " + std::to_string(image.size()) +
           " bytes, SHA-256 of these bytes (before pad and boot header) " +
           sha256sumOf(image, dir) + "\n";
}

// HEX is told by its content whatever the name, converted in memory (the start-up directory is
// read-only and stays empty) and reaches the board as objcopy converts it.
TEST(FlashImageFile, HexTextReachesTheBoardAsObjcopyConvertsItWhateverItsName) {
    const bool peer = std::system("objcopy --version >/dev/null 2>&1") == 0;
    for (const auto& [mode, command, success, file] :
         {std::tuple{sim::BoardMode::Download, "download", messages::Success.download, "fw.ihx"},
          std::tuple{sim::BoardMode::Update, "update", messages::Success.update, "fw.bin"}}) {
        TempDir dir;
        TempDir startup;
        fs::permissions(startup.path, fs::perms::owner_read | fs::perms::owner_exec);
        const Bytes image = randomImage(3001, 5);
        writeText(dir / file, toolchainHex(image));
        if (peer) {
            ASSERT_EQ(objcopyOf(dir / file, dir / "peer.out"), image);
            fs::remove(dir / "peer.out");
        }
        sim::SimulatedLine line({.mode = mode});
        const CliRun r = run({command, "--image", (dir / file).string()}, line, startup);
        ASSERT_EQ(r.status, cli::ExitSuccess) << r.err;
        EXPECT_EQ(r.out, std::string(success) + "\n");
        EXPECT_TRUE(r.err.starts_with(identity(dir / file, image, dir))) << r.err;
        EXPECT_EQ(line.board.programmedPayload(), withBootHeader(padded(image)));
        if (mode == sim::BoardMode::Download) {
            EXPECT_EQ(line.board.loadedImage(), padded(image));
        }
        EXPECT_TRUE(startup.names().empty());
        EXPECT_EQ(dir.names(), std::vector<std::string>{file});
        fs::permissions(startup.path, fs::perms::owner_all);
    }
}

// Nothing reaches the board from a file that cannot be an image, nor from one the operation
// would refuse: not even the handshake.
TEST(FlashImageFile, ImageThatCannotBeUsedStopsTheRunBeforeThePort) {
    TempDir dir;
    const auto at = [&](const char* name) { return (dir / name).string(); };
    writeText(dir / "bad.hex", hexRecord(0, {1, 2}) + hexRecord(2, {3}, 0, 1) + EndRecord);
    writeText(dir / "notes.txt", "Release notes\nThis build fixes the timer.\n");
    writeBytes(dir / "empty.bin", {});
    writeBytes(dir / "huge.bin", randomImage(9000, 1));
    writeBytes(dir / "long.bin", randomImage(8180, 1));
    struct Case {
        std::string file;
        std::string err;
    };
    for (const Case& c : {
             Case{"bad.hex", at("bad.hex") +
                                 ": not an Intel HEX image this tool takes: record 2: the "
                                 "checksum does not add up\n"},
             Case{"notes.txt",
                  at("notes.txt") +
                      ": mostly printable text, neither Intel HEX nor machine code; --force "
                      "would take it as a binary image as it stands\n"},
             Case{"empty.bin", std::string(messages::ReadImageFileFail) + "\n" + at("empty.bin") +
                                   ": no image bytes in it\n"},
             Case{"huge.bin", std::string(messages::FirmwareTooLong) + "\n" + at("huge.bin") +
                                  ": 9000 bytes, more than the 8192 any operation takes; the "
                                  "file was not read\n"},
             Case{"long.bin", std::string(messages::FirmwareTooLong) + "\n" + at("long.bin") +
                                  ": 8212 bytes to program with the boot header, more than the "
                                  "8192 an Update takes\n"},
         }) {
        sim::SimulatedLine line;
        const CliRun r = run({"update", "--image", at(c.file.c_str())}, line, dir);
        EXPECT_EQ(r.status, cli::ExitImage) << c.file;
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(line.events.empty()) << c.file;
    }

    // Asked for, the text goes as it stands; broken HEX never does, as its text is no code.
    sim::SimulatedLine refusing({.mode = sim::BoardMode::Update});
    EXPECT_EQ(run({"update", "--force", "--image", at("bad.hex")}, refusing, dir).status,
              cli::ExitImage);
    EXPECT_TRUE(refusing.events.empty());
    sim::SimulatedLine line({.mode = sim::BoardMode::Update});
    const CliRun forced = run({"update", "--force", "--image", at("notes.txt")}, line, dir);
    ASSERT_EQ(forced.status, cli::ExitSuccess) << forced.err;
    const Bytes notes = readBytes(dir / "notes.txt");
    EXPECT_EQ(line.board.programmedPayload(), withBootHeader(padded(notes)));
}

// ---------------------------------------------------------------------------------------------
// info

TEST(ImageInfo, TellsFormatLengthsFitAndSha256AsTextAndAsJson) {
    TempDir dir;
    sim::SimulatedLine line;
    const Bytes builtIn(builtInImage(), builtInImage() + BuiltInImageLength);
    const std::string sum = sha256sumOf(builtIn, dir);
    const CliRun text = run({"info"}, line, dir);
    ASSERT_EQ(text.status, cli::ExitSuccess) << text.err;
    EXPECT_EQ(text.out,
              "Image:          built-in\n"
              "Format:         binary\n"
              "Length:         5695 bytes\n"
              "Padded length:  5696 bytes\n"
              "Boot header:    no\n"
              "Download:       fits (5696 of 8192 bytes)\n"
              "Update:         fits (5728 of 8192 bytes)\n"
              "SHA-256:        " +
                  sum + " (of the image bytes, before pad and boot header)\n");

    // Records at 0x0010 and 0x0100: the image runs from address 0 to the highest byte.
    const Bytes low = randomImage(16, 3);
    const Bytes high = randomImage(4, 4);
    writeText(dir / "app.a51", hexRecord(0x0100, high) + hexRecord(0x0010, low) + EndRecord);
    Bytes hexImage(0x0104, 0);
    std::copy(low.begin(), low.end(), hexImage.begin() + 0x10);
    std::copy(high.begin(), high.end(), hexImage.begin() + 0x100);
    const CliRun hexText = run({"info", "--image", (dir / "app.a51").string()}, line, dir);
    EXPECT_NE(hexText.out.find("Format:         Intel HEX, 3 records, addresses 0x0010 to 0x0103\n"
                               "Length:         260 bytes\n"),
              std::string::npos)
        << hexText.out;

    writeBytes(dir / "headed.bin", withBootHeader(randomImage(99, 6)));
    writeBytes(dir / "sparse.bin", {});
    fs::resize_file(dir / "sparse.bin", std::uint64_t{1} << 32);
    const nlohmann::json tooLong = {
        {"box", messages::FirmwareTooLong},
        {"reason", (dir / "sparse.bin").string() +
                       ": 4294967296 bytes, more than the 8192 any operation takes; the file "
                       "was not read"}};
    struct Case {
        std::string file;
        nlohmann::json expected;
    };
    for (const Case& c : {
             Case{"app.a51",
                  {{"image", (dir / "app.a51").string()},
                   {"format", "intel-hex"},
                   {"forced", false},
                   {"hex", {{"records", 3}, {"lowestAddress", 0x10}, {"highestAddress", 0x103}}},
                   {"length", 260},
                   {"paddedLength", 260},
                   {"bootHeader", false},
                   {"capacity", 8192},
                   {"download", {{"fits", true}, {"length", 260}}},
                   {"update", {{"fits", true}, {"length", 292}}},
                   {"sha256", sha256sumOf(hexImage, dir)},
                   {"refusal", nullptr}}},
             Case{"headed.bin",
                  {{"image", (dir / "headed.bin").string()},
                   {"format", "binary"},
                   {"forced", false},
                   {"hex", nullptr},
                   {"length", 131},
                   {"paddedLength", 132},
                   {"bootHeader", true},
                   {"capacity", 8192},
                   {"download", {{"fits", true}, {"length", 132}}},
                   {"update", {{"fits", true}, {"length", 132}}},
                   {"sha256", sha256sumOf(readBytes(dir / "headed.bin"), dir)},
                   {"refusal", nullptr}}},
             // Too long to be read, and no length wraps around to one that would fit.
             Case{"sparse.bin",
                  {{"image", (dir / "sparse.bin").string()},
                   {"format", "binary"},
                   {"forced", false},
                   {"hex", nullptr},
                   {"length", 4294967296},
                   {"paddedLength", 4294967296},
                   {"bootHeader", false},
                   {"capacity", 8192},
                   {"download", {{"fits", false}, {"length", 4294967296}}},
                   {"update", {{"fits", false}, {"length", 4294967328}}},
                   {"sha256", nullptr},
                   {"refusal", tooLong}}},
         }) {
        const CliRun r = run({"info", "--json", "--image", (dir / c.file).string()}, line, dir);
        EXPECT_EQ(r.status, c.expected.at("refusal").is_null() ? cli::ExitSuccess : cli::ExitImage)
            << r.err;
        const nlohmann::json got = nlohmann::json::parse(r.out);
        for (const auto& [key, value] : c.expected.items()) {
            EXPECT_EQ(got.at(key), value) << c.file << " " << key;
        }
        EXPECT_EQ(got.size(), c.expected.size()) << c.file;
    }
    // A name that is not UTF-8 still makes valid JSON, for info and for an operation alike.
    const fs::path odd = dir / "\xff\x1b.bin";
    writeBytes(odd, randomImage(64, 7));
    const std::string oddName = (dir / "\\xff\x1b.bin").string();
    const CliRun oddInfo = run({"info", "--json", "--image", odd.string()}, line, dir);
    EXPECT_EQ(nlohmann::json::parse(oddInfo.out).at("image"), oddName);
    sim::SimulatedLine board({.mode = sim::BoardMode::Update});
    const CliRun oddUpdate = run({"update", "--json", "--image", odd.string()}, board, dir);
    EXPECT_EQ(nlohmann::json::parse(oddUpdate.out).at("image").at("name"), oddName);
    const CliRun hugeText = run({"info", "--image", (dir / "sparse.bin").string()}, line, dir);
    EXPECT_NE(hugeText.out.find("Download:       too long (4294967296 of 8192 bytes)\n"
                                "Update:         too long (4294967328 of 8192 bytes)\n"
                                "SHA-256:        not computed: the file is too long to be read\n"),
              std::string::npos)
        << hugeText.out;
    EXPECT_TRUE(line.events.empty());
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
    const std::string noBytes = std::string(messages::ReadImageFileFail) + "\n";
    struct Case {
        const char* command;
        std::string file;
        std::string err;
    };
    for (const Case& c : {Case{"update", "empty.bin", noBytes + "%: no image bytes in it\n"},
                          Case{"download", "empty.hex", noBytes + "%: no image bytes in it\n"},
                          Case{"download", "huge.bin",
                               tooLong + "%: 4294967296 bytes, more than the 8192 any operation "
                                         "takes; the file was not read\n"},
                          Case{"update", "huge.hex",
                               tooLong + "%: 4294967296 bytes, more than the 8192 any operation "
                                         "takes; the file was not read\n"}}) {
        sim::SimulatedLine line;
        const std::string file = (dir / c.file).string();
        const CliRun r = run({c.command, "--image", file}, line, dir);
        EXPECT_EQ(r.status, cli::ExitImage) << c.file;
        std::string expected = c.err;
        expected.replace(expected.find('%'), 1, file);
        EXPECT_EQ(r.err, expected);
        EXPECT_TRUE(line.events.empty()) << c.file;
    }
    sim::SimulatedLine line;
    const CliRun hugeHex =
        run({"hex2bin", (dir / "huge.hex").string(), (dir / "out.bin").string()}, line, dir);
    EXPECT_EQ(hugeHex.status, cli::ExitFailed);
    EXPECT_EQ(hugeHex.err, (dir / "huge.hex").string() +
                               ": an Intel HEX text of 4294967296 bytes, more than the 1048576 "
                               "taken; the file was not read\n");
    EXPECT_FALSE(fs::exists(dir / "out.bin"));
}

}  // namespace
}  // namespace zq::test
