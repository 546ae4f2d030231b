// The HEX reader in the dialect toolchains write (its generated texts are in hex_peer_test), and
// how an image file's content is told apart: HEX text, other text, machine code.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "image/hex_reader.h"
#include "image/image_file.h"
#include "image/image_identity.h"
#include "image/image_sniff.h"
#include "support/image_files.h"

namespace zq::test {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::size_t ReadLimit = 8192;

// Overlaps that disagree leave a byte undecided. Addresses past the image are refused from the
// record alone: nothing near 2 GiB is allocated.
TEST(HexReader, RefusesWhatNoImageCanHoldAtTheRecordThatSaysIt) {
    using enum HexFault;
    const std::string overlap = hexRecord(0x10, {1, 2, 3}) + hexRecord(0x11, {2, 9, 4}) + EndRecord;
    struct Case {
        std::string text;
        HexFault fault;
        std::size_t record;
        std::string said = {};
    };
    for (const Case& c : {
             Case{overlap, Overlap, 2,
                  "it gives address 0x0012 another value than an earlier record did"},
             Case{hexRecord(0, {0x80, 0x00}, 0x04) + hexRecord(0, {1}) + EndRecord, AddressTooHigh,
                  2, "its data reaches address 0x80000000, past the 8192 bytes an image may take"},
             Case{hexRecord(0, {0xFF, 0xFF}, 0x02) + hexRecord(0xFFFF, {1}) + EndRecord,
                  AddressTooHigh, 2},
             Case{hexRecord(0x1FFF, {1, 2}) + EndRecord, AddressTooHigh, 1},
             Case{hexRecord(0, {1, 2, 3}, 0x02) + EndRecord, BadAddressRecord, 1},
             Case{hexRecord(0, {1, 2}, 0x05) + EndRecord, BadAddressRecord, 1},
             Case{hexRecord(0, {1}, 0x06) + EndRecord, UnknownType, 1},
         }) {
        SCOPED_TRACE(c.text);
        const HexReading reading = readHex(c.text, HexDialect::Toolchain, ReadLimit);
        EXPECT_EQ(reading.fault, c.fault);
        EXPECT_EQ(reading.faultRecord, c.record);
        EXPECT_TRUE(c.said.empty() || describeHexReading(reading) == c.said)
            << describeHexReading(reading);
    }
    // Overlaps that agree are a file merged from parts; the last byte an image may take is taken.
    const std::string agreeing = hexRecord(0x1FFC, {1, 2, 3}) + hexRecord(0x1FFD, {2, 3, 4});
    EXPECT_EQ(readHex(agreeing + EndRecord, HexDialect::Toolchain, ReadLimit).bytes,
              with(Bytes(ReadLimit), 0x1FFC, {1, 2, 3, 4}));
    // The board's own tool lets the later record win, as it always has.
    EXPECT_TRUE(readHex(overlap, HexDialect::BoardTool, BoardToolAddressLimit).ok());
}

TEST(ImageContent, TextIsToldFromMachineCodeAndHexByItsFirstRecord) {
    const auto bytes = [](std::string_view s) { return Bytes(s.begin(), s.end()); };
    EXPECT_FALSE(startsLikeHexText(bytes(" :00000001FF")));
    EXPECT_FALSE(startsLikeHexText(bytes("\n\n")));
    // Text is nine bytes in ten printable or more.
    EXPECT_TRUE(looksLikeText(with(Bytes(10, 'a'), 0, {0})));
    EXPECT_FALSE(looksLikeText(with(Bytes(10, '\t'), 0, {0, 0x7F})));
    EXPECT_FALSE(looksLikeText({}));
    // However many line ends come first, behind an editor's byte-order mark or not, a file whose
    // first record starts with ':' is HEX text: read as HEX when it is, refused as broken HEX
    // when it is not, never sent as code.
    TempDir dir;
    const std::string mark = "\xEF\xBB\xBF";
    for (const std::string& blank : {std::string(3, '\n'), std::string(511, '\n'),
                                     std::string(512, '\n'), mark + std::string(4000, '\n')}) {
        SCOPED_TRACE(blank.size());
        writeText(dir / "good", blank + hexRecord(0, {1, 2, 3}) + EndRecord);
        const ImageFile taken = readImageFile(dir / "good", ReadLimit, false);
        EXPECT_EQ(taken.format, ImageFormat::IntelHex);
        EXPECT_EQ(taken.bytes, (Bytes{1, 2, 3}));
        writeText(dir / "broken", blank + ':' + std::string(400, '\0'));
        EXPECT_EQ(readImageFile(dir / "broken", ReadLimit, false).outcome.fault,
                  FileFault::BrokenHex);
    }
    EXPECT_EQ(sha256Hex(bytes("abc")),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

// What toolchains hand over besides images, told by the first bytes alone; images of either kind,
// and text or code that merely starts alike, are none of them.
TEST(ImageContent, KnownFormatsThatAreNoImagesAreToldByTheirFirstBytes) {
    using enum ForeignFormat;
    const auto text = [](std::string_view s) { return Bytes(s.begin(), s.end()); };
    Bytes pe = with(Bytes(0x90), 0, {'M', 'Z'});
    pe = with(pe, 0x3C, {0x80});
    pe = with(pe, 0x80, {'P', 'E', 0, 0});
    const Bytes dosOnly = with(Bytes(0x90), 0, {'M', 'Z'});
    struct Case {
        Bytes head;
        ForeignFormat format;
    };
    for (const Case& c :
         {Case{{0x7F, 'E', 'L', 'F', 1, 1, 1}, Elf},
          Case{text("S00F000068656C6C6F202020202000003C\r\n"), SRecord},
          Case{text("\xEF\xBB\xBF\n\nS1130000"), SRecord}, Case{pe, Pe},
          Case{{0xCF, 0xFA, 0xED, 0xFE, 7, 0, 0, 1}, MachO}, Case{{0xFE, 0xED, 0xFA, 0xCE}, MachO},
          Case{{0xCA, 0xFE, 0xBA, 0xBE}, MachO}, Case{text("!<arch>\n/               "), ArArchive},
          Case{{'U', 'F', '2', '\n', 0x57, 0x51, 0x5D, 0x9E}, Uf2},
          Case{{'P', 'K', 3, 4, 20, 0}, Zip}, Case{{'P', 'K', 5, 6, 0, 0}, Zip},
          Case{{0x1F, 0x8B, 8, 0}, Gzip}, Case{dosOnly, None}, Case{text("UF2\n"), None},
          Case{text("Serial numbers\n"), None}, Case{text("SX"), None},
          Case{text(":00000001FF\n"), None}, Case{{0x7F, 'E', 'L'}, None}, Case{{}, None}}) {
        SCOPED_TRACE(testing::PrintToString(c.head));
        EXPECT_EQ(foreignFormatOf(c.head), c.format);
    }
    // Whatever --force says, and before any size rule: converted, it may well fit.
    TempDir dir;
    writeBytes(dir / "firmware.elf", with(Bytes(3 * ReadLimit), 0, {0x7F, 'E', 'L', 'F'}));
    const ImageFile elf = readImageFile(dir / "firmware.elf", ReadLimit, true);
    EXPECT_EQ(elf.outcome.fault, FileFault::NotAnImage);
    EXPECT_EQ(elf.outcome.foreign, Elf);
}

}  // namespace
}  // namespace zq::test
