// Both HEX dialects on generated texts, against binutils objcopy (it comes with the linker): the
// board tool's (CR LF, data records only) and the toolchains' (address and start records, repeats,
// other line ends) for the same records.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "image/hex_convert.h"
#include "image/hex_reader.h"
#include "support/image_files.h"

namespace zq::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

// objcopy writes from the lowest address on, ours from address 0: ours is compared from the lowest
// address and must hold only zeros below it.
void expectObjcopyAgrees(const TempDir& dir, const std::string& text, const Bytes& ours,
                         std::size_t lowest) {
    writeText(dir / "in.hex", text);
    const std::string command = "objcopy -I ihex -O binary --gap-fill 0 '" +
                                (dir / "in.hex").string() + "' '" + (dir / "peer.bin").string() +
                                "' 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << text;
    ASSERT_GE(ours.size(), lowest) << text;
    const auto from = ours.begin() + static_cast<std::ptrdiff_t>(lowest);
    EXPECT_EQ(std::count(ours.begin(), from, 0), from - ours.begin()) << text;
    EXPECT_EQ(Bytes(from, ours.end()), readBytes(dir / "peer.bin")) << text;
}

// Whatever the records, neither dialect lets an image grow past 0xFFFF + 255 bytes here.
constexpr std::size_t Limit = 0x10000 + 255;

struct Placed {
    std::uint16_t address;
    Bytes data;
};

// Up to 40 records of random bytes starting below `span`, none overlapping another (objcopy has
// no rule for overlaps), some 255 bytes long and a few of those reaching past 0xFFFF.
std::vector<Placed> place(std::mt19937& random, std::uint32_t span) {
    const std::uint32_t wanted = 1 + random() % 40;
    std::vector<bool> taken(span + 255);
    std::vector<Placed> placed;
    for (int attempt = 0; placed.size() < wanted && attempt < 500; ++attempt) {
        const std::uint32_t length = random() % 8 == 0 ? 255 : 1 + random() % 32;
        const auto first = taken.begin() + random() % span;
        if (std::find(first, first + length, true) != first + length) {
            continue;
        }
        std::fill(first, first + length, true);
        Bytes data(length);
        std::generate(data.begin(), data.end(),
                      [&] { return static_cast<std::uint8_t>(random()); });
        placed.push_back({static_cast<std::uint16_t>(first - taken.begin()), std::move(data)});
    }
    return placed;
}

std::string lowerSometimes(std::string record, std::mt19937& random) {
    if (random() % 3 == 0) {
        std::transform(record.begin(), record.end(), record.begin(),
                       [](char c) { return static_cast<char>(std::tolower(c)); });
    }
    return record;
}

std::string withoutLineEnd(const std::string& record) {
    return record.substr(0, record.size() - 2);
}

struct Toolchain {
    std::vector<std::string> records;  // without line ends
    std::size_t firstData = 0;         // index of the first data record
};

// The same records as toolchains write them: through segment bases or plain 16-bit addresses,
// some repeated exactly, which must be taken.
Toolchain asToolchainWrites(const std::vector<Placed>& placed, std::mt19937& random) {
    Toolchain g;
    g.records.push_back(withoutLineEnd(hexRecord(0, {0, 0}, 0x04)));
    if (random() % 2 == 0) {
        g.records.push_back(withoutLineEnd(hexRecord(0, {0x12, 0x34, 0x56, 0x78}, 0x03)));
    }
    g.firstData = g.records.size();
    for (const Placed& p : placed) {
        const std::uint32_t base = random() % 2 == 0 ? 0 : (p.address >> 4) - random() % 4;
        const std::uint32_t segment = std::min<std::uint32_t>(base, p.address >> 4);
        g.records.push_back(withoutLineEnd(hexRecord(
            0, {static_cast<std::uint8_t>(segment >> 8), static_cast<std::uint8_t>(segment)},
            0x02)));
        g.records.push_back(withoutLineEnd(
            hexRecord(static_cast<std::uint16_t>(p.address - segment * 16), p.data)));
        if (random() % 8 == 0) {
            g.records.push_back(g.records.back());
        }
    }
    g.records.push_back(":00000001FF");
    return g;
}

// LF or CR LF, blank lines, the last line end sometimes missing.
std::string textOf(const std::vector<std::string>& records, std::mt19937& random) {
    std::string text;
    for (std::size_t n = 0; n < records.size(); ++n) {
        text += lowerSometimes(records[n], random);
        if (n + 1 < records.size() || random() % 2 == 0) {
            text += random() % 2 == 0 ? "\n" : "\r\n";
        }
        if (random() % 10 == 0) {
            text += "\n";
        }
    }
    return text;
}

// The board tool's text is compared with objcopy's reading, the toolchain's text with the board
// tool's; each toolchain text is then damaged in one way and must fail at the record damaged.
TEST(HexPeer, GeneratedTextsReadAsObjcopyReadsThemAndFailAtTheRecordDamaged) {
    TempDir dir;
    std::mt19937 random(417);
    for (int n = 0; n < 120; ++n) {
        const std::uint32_t span = random() % 2 == 0 ? 0x400 : 0x10000;
        const std::vector<Placed> placed = place(random, span);
        std::string boardText;
        std::size_t lowest = span;
        for (const Placed& p : placed) {
            boardText += lowerSometimes(hexRecord(p.address, p.data), random);
            lowest = std::min<std::size_t>(lowest, p.address);
        }
        boardText += random() % 2 == 0 ? EndRecord : ":00000001ff\r\n";
        ASSERT_TRUE(convertHexToBin(boardText, dir / "ours.bin")) << boardText;
        const Bytes ours = readBytes(dir / "ours.bin");
        expectObjcopyAgrees(dir, boardText, ours, lowest);

        const Toolchain g = asToolchainWrites(placed, random);
        const std::string text = textOf(g.records, random);
        const HexReading reading = readHex(text, HexDialect::Toolchain, Limit);
        ASSERT_TRUE(reading.ok()) << describeHexReading(reading) << " at record "
                                  << reading.faultRecord << "\n"
                                  << text;
        EXPECT_EQ(reading.bytes, ours) << text;
        EXPECT_EQ(reading.lowest, lowest);
        EXPECT_EQ(reading.highest + 1, ours.size());

        // One damage to one data record; the record number counts every record before it.
        const std::size_t victim = g.firstData + random() % (g.records.size() - 1 - g.firstData);
        std::vector<std::string> damaged = g.records;
        std::string& record = damaged[victim];
        using enum HexFault;
        const std::pair<HexFault, std::function<void()>> damages[] = {
            {BadChecksum, [&] { record.back() = record.back() == '0' ? '1' : '0'; }},
            {NotHexDigit, [&] { record[9] = 'g'; }},
            {CountMismatch, [&] { record += "00"; }},
            {CountMismatch, [&] { record.erase(record.size() - 2); }},
            {TrailingData, [&] { record += " ;"; }},
            {NoEndRecord, [&] { damaged.pop_back(); }},
        };
        const auto& [expected, damage] = damages[n % 6];
        damage();
        // The end record is given its line end so that a shortened record is not the text's end.
        const std::string damagedText = textOf(damaged, random) + "\n";
        const HexReading bad = readHex(damagedText, HexDialect::Toolchain, Limit);
        EXPECT_EQ(bad.fault, expected) << damagedText;
        EXPECT_EQ(bad.faultRecord, expected == NoEndRecord ? damaged.size() + 1 : victim + 1)
            << damagedText;
        EXPECT_TRUE(bad.bytes.empty());
    }
}

}  // namespace
}  // namespace zq::test
