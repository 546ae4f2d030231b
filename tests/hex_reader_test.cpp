// The HEX reader in the dialect toolchains write, against binutils objcopy on generated texts:
// LF or CR LF, blank lines, lower case, extended address and start address records, any order, the
// last record without its line end. objcopy writes from the lowest address on, the reader from
// address 0, so the reader's image is compared from the lowest address and must hold only zeros
// below it. Each text is then damaged in one way and must fail at the record damaged.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "image/hex_reader.h"
#include "image/image_file.h"
#include "image/image_identity.h"
#include "image/image_sniff.h"
#include "support/image_files.h"

namespace zq::test {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
constexpr std::size_t Limit = 8192;

bool objcopy(const fs::path& hex, const fs::path& bin) {
    const std::string command = "objcopy -I ihex -O binary --gap-fill 0 '" + hex.string() + "' '" +
                                bin.string() + "' 2>/dev/null";
    return std::system(command.c_str()) == 0;
}

std::string withoutLineEnd(std::string record) {
    return record.substr(0, record.size() - 2);
}

struct Generated {
    std::vector<std::string> records;  // without line ends
    std::size_t lowest = Limit;
    std::size_t firstData = 0;  // index of the first data record
};

// Data records placed through segment bases or plain 16-bit addresses, never overlapping except
// for exact repeats, which must be taken.
Generated generate(std::mt19937& random) {
    Generated g;
    std::vector<bool> taken(Limit);
    g.records.push_back(withoutLineEnd(hexRecord(0, {0, 0}, 0x04)));
    if (random() % 2 == 0) {
        g.records.push_back(withoutLineEnd(hexRecord(0, {0x12, 0x34, 0x56, 0x78}, 0x03)));
    }
    g.firstData = g.records.size();
    const int records = 1 + static_cast<int>(random() % 30);
    for (int attempt = 0, made = 0; made < records && attempt < 300; ++attempt) {
        const std::uint32_t count = 1 + random() % 40;
        const std::uint32_t address = random() % (Limit - count);
        if (std::find(taken.begin() + address, taken.begin() + address + count, true) !=
            taken.begin() + address + count) {
            continue;
        }
        std::fill(taken.begin() + address, taken.begin() + address + count, true);
        Bytes data(count);
        for (std::uint8_t& b : data) {
            b = static_cast<std::uint8_t>(random());
        }
        // Half the records go through a segment base that puts them at the same place.
        const std::uint32_t segment = random() % 2 == 0 ? 0 : (address >> 4) - random() % 4;
        const std::uint32_t base = std::min(segment, address >> 4);
        g.records.push_back(withoutLineEnd(hexRecord(
            0, {static_cast<std::uint8_t>(base >> 8), static_cast<std::uint8_t>(base)}, 0x02)));
        const std::string record =
            withoutLineEnd(hexRecord(static_cast<std::uint16_t>(address - base * 16), data));
        g.records.push_back(record);
        if (random() % 8 == 0) {
            g.records.push_back(record);
        }
        g.lowest = std::min<std::size_t>(g.lowest, address);
        ++made;
    }
    g.records.push_back(":00000001FF");
    return g;
}

std::string textOf(const std::vector<std::string>& records, std::mt19937& random) {
    std::string text;
    for (std::size_t n = 0; n < records.size(); ++n) {
        std::string record = records[n];
        if (random() % 3 == 0) {
            std::transform(record.begin(), record.end(), record.begin(),
                           [](char c) { return static_cast<char>(std::tolower(c)); });
        }
        text += record;
        if (n + 1 < records.size() || random() % 2 == 0) {
            text += random() % 2 == 0 ? "\n" : "\r\n";
        }
        if (random() % 10 == 0) {
            text += "\n";
        }
    }
    return text;
}

TEST(HexReader, GeneratedToolchainTextsMatchObjcopyAndFailAtTheRecordDamaged) {
    const bool peer = std::system("objcopy --version >/dev/null 2>&1") == 0;
    TempDir dir;
    std::mt19937 random(4170);
    for (int n = 0; n < 200; ++n) {
        const Generated g = generate(random);
        const std::string text = textOf(g.records, random);
        const HexReading reading = readHex(text, HexDialect::Toolchain, Limit);
        ASSERT_TRUE(reading.ok()) << describeHexReading(reading) << " at record "
                                  << reading.faultRecord << "\n"
                                  << text;
        EXPECT_EQ(reading.lowest, g.lowest);
        EXPECT_EQ(reading.highest + 1, reading.bytes.size());
        if (peer) {
            writeText(dir / "in.hex", text);
            ASSERT_TRUE(objcopy(dir / "in.hex", dir / "peer.bin")) << text;
            const Bytes peerBytes = readBytes(dir / "peer.bin");
            ASSERT_EQ(peerBytes.size() + g.lowest, reading.bytes.size()) << text;
            EXPECT_TRUE(std::equal(peerBytes.begin(), peerBytes.end(),
                                   reading.bytes.begin() + static_cast<long>(g.lowest)))
                << text;
            EXPECT_EQ(std::count(reading.bytes.begin(),
                                 reading.bytes.begin() + static_cast<long>(g.lowest), 0),
                      static_cast<long>(g.lowest));
        }

        // One damage to one data record; the record number counts every record before it.
        const std::size_t victim = g.firstData + random() % (g.records.size() - 1 - g.firstData);
        std::vector<std::string> damaged = g.records;
        std::string& record = damaged[victim];
        HexFault expected = HexFault::None;
        switch (n % 6) {
            case 0:
                record.back() = record.back() == '0' ? '1' : '0';
                expected = HexFault::BadChecksum;
                break;
            case 1:
                record[9] = 'g';
                expected = HexFault::NotHexDigit;
                break;
            case 2:
                record += "00";
                expected = HexFault::CountMismatch;
                break;
            case 3:
                record.erase(record.size() - 2);
                expected = HexFault::CountMismatch;
                break;
            case 4:
                record += " ;";
                expected = HexFault::TrailingData;
                break;
            case 5:
                damaged.pop_back();
                expected = HexFault::NoEndRecord;
                break;
        }
        // The end record is given its line end so that a shortened record is not the text's end.
        const std::string damagedText = textOf(damaged, random) + "\n";
        const HexReading bad = readHex(damagedText, HexDialect::Toolchain, Limit);
        EXPECT_EQ(bad.fault, expected) << damagedText;
        EXPECT_EQ(bad.faultRecord,
                  expected == HexFault::NoEndRecord ? damaged.size() + 1 : victim + 1)
            << damagedText;
        EXPECT_TRUE(bad.bytes.empty());
    }
}

// Overlaps that agree are a file merged from parts; ones that disagree leave the byte undecided.
// Addresses past the image are refused from the record alone: nothing near 2 GiB is allocated.
TEST(HexReader, RefusesDisagreeingOverlapsAndAddressesPastTheImage) {
    const std::string same = hexRecord(0x10, {1, 2, 3}) + hexRecord(0x11, {2, 3, 4}) + EndRecord;
    EXPECT_EQ(readHex(same, HexDialect::Toolchain, Limit).bytes,
              (Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4}));
    const std::string other = hexRecord(0x10, {1, 2, 3}) + hexRecord(0x11, {2, 9, 4}) + EndRecord;
    const HexReading overlap = readHex(other, HexDialect::Toolchain, Limit);
    EXPECT_EQ(overlap.fault, HexFault::Overlap);
    EXPECT_EQ(overlap.faultRecord, 2u);
    EXPECT_EQ(describeHexReading(overlap),
              "it gives address 0x0012 another value than an earlier record did");
    // The board's own tool lets the later record win, as it always has.
    EXPECT_TRUE(readHex(other, HexDialect::BoardTool, BoardToolAddressLimit).ok());

    for (const std::string& far :
         {hexRecord(0, {0x80, 0x00}, 0x04) + hexRecord(0, {1}) + EndRecord,
          hexRecord(0, {0xFF, 0xFF}, 0x02) + hexRecord(0xFFFF, {1}) + EndRecord,
          hexRecord(0x1FFF, {1, 2}) + EndRecord}) {
        const HexReading reading = readHex(far, HexDialect::Toolchain, Limit);
        EXPECT_EQ(reading.fault, HexFault::AddressTooHigh) << far;
        EXPECT_EQ(reading.faultRecord, reading.records + 1) << far;
    }
    EXPECT_EQ(
        describeHexReading(readHex(hexRecord(0, {0x80, 0x00}, 0x04) + hexRecord(0, {1}) + EndRecord,
                                   HexDialect::Toolchain, Limit)),
        "its data reaches address 0x80000000, past the 8192 bytes an image may take");

    for (const auto& [text, fault] :
         {std::pair{hexRecord(0, {1, 2, 3}, 0x02) + EndRecord, HexFault::BadAddressRecord},
          std::pair{hexRecord(0, {1, 2}, 0x05) + EndRecord, HexFault::BadAddressRecord},
          std::pair{hexRecord(0, {1}, 0x06) + EndRecord, HexFault::UnknownType}}) {
        EXPECT_EQ(readHex(text, HexDialect::Toolchain, Limit).fault, fault) << text;
    }
}

TEST(ImageContent, TextIsToldFromMachineCodeAndHexByItsFirstRecord) {
    const auto bytes = [](std::string_view s) { return Bytes(s.begin(), s.end()); };
    EXPECT_TRUE(startsLikeHexText(bytes("\r\n\n:00000001FF")));
    EXPECT_FALSE(startsLikeHexText(bytes(" :00000001FF")));
    EXPECT_FALSE(startsLikeHexText(bytes("\n\n")));
    EXPECT_TRUE(looksLikeText(bytes("int main(void) {\n\treturn 0;\n}\n")));
    EXPECT_FALSE(looksLikeText(bytes("")));
    Bytes code(100, 0x75);
    std::fill(code.begin(), code.begin() + 20, 0x00);
    EXPECT_FALSE(looksLikeText(code));
    // However many line ends come first, behind an editor's byte-order mark or not, a file whose
    // first record starts with ':' is HEX text: read as HEX when it is, refused as broken HEX
    // when it is not, never sent as code.
    const fs::path dir = fs::temp_directory_path() / ("zq417-sniff-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string mark = "\xEF\xBB\xBF";
    for (const std::string& blank :
         {std::string(3, '\n'), std::string(511, '\n'), std::string(512, '\n'),
          std::string(4000, '\n'), mark, mark + std::string(4000, '\n')}) {
        SCOPED_TRACE(blank.size());
        const fs::path good = dir / "good";
        std::ofstream(good, std::ios::binary) << blank << hexRecord(0, {1, 2, 3}) << EndRecord;
        const ImageFile taken = readImageFile(good, Limit, false);
        EXPECT_EQ(taken.format, ImageFormat::IntelHex);
        EXPECT_EQ(taken.bytes, (Bytes{1, 2, 3}));
        const fs::path broken = dir / "broken";
        Bytes machineCode(400, 0x00);
        std::ofstream(broken, std::ios::binary)
            << blank << ':' << std::string(machineCode.begin(), machineCode.end());
        EXPECT_EQ(readImageFile(broken, Limit, false).outcome.fault, FileFault::BrokenHex);
    }
    fs::remove_all(dir);
    EXPECT_EQ(sha256Hex(bytes("abc")),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

}  // namespace
}  // namespace zq::test
