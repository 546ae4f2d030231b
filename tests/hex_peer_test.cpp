// Both HEX dialects against binutils objcopy on generated texts: the board tool's (CR LF, data
// records only) and the toolchains' (LF or CR LF, blank lines, address and start records, repeats,
// the last line end missing). objcopy writes from the lowest address on, ours from address 0, so
// ours is compared from the lowest address and must hold only zeros below it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "image/hex_convert.h"
#include "image/hex_reader.h"
#include "support/image_files.h"

namespace zq::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

bool objcopyInstalled() {
    return std::system("objcopy --version >/dev/null 2>&1") == 0;
}

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

struct Placed {
    std::uint32_t address;
    Bytes data;
};

// Up to `wanted` records of random bytes starting below `span`, none overlapping another (objcopy
// has no rule for overlaps); `count` draws each one's length.
template <typename Count>
std::vector<Placed> place(std::mt19937& random, std::uint32_t span, std::uint32_t wanted,
                          Count count) {
    std::vector<bool> taken(span + 255);
    std::vector<Placed> placed;
    for (int attempt = 0; placed.size() < wanted && attempt < 500; ++attempt) {
        const std::uint32_t length = count();
        const auto first = taken.begin() + random() % span;
        if (std::find(first, first + length, true) != first + length) {
            continue;
        }
        std::fill(first, first + length, true);
        Bytes data(length);
        std::generate(data.begin(), data.end(),
                      [&] { return static_cast<std::uint8_t>(random()); });
        placed.push_back({static_cast<std::uint32_t>(first - taken.begin()), std::move(data)});
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

TEST(HexPeer, BoardToolTextsConvertAsObjcopyReadsThem) {
    if (!objcopyInstalled()) {
        GTEST_SKIP() << "objcopy (binutils) is not installed";
    }
    TempDir dir;
    std::mt19937 random(417);
    for (int n = 0; n < 150; ++n) {
        // Some records reach past 0xFFFF, where nothing wraps to the start.
        const std::uint32_t span = random() % 2 == 0 ? 0x400 : 0x10000;
        std::string text;
        std::size_t lowest = span;
        for (const Placed& p : place(random, span, 1 + random() % 40, [&] {
                 return random() % 8 == 0 ? 255u : static_cast<std::uint32_t>(1 + random() % 32);
             })) {
            text +=
                lowerSometimes(hexRecord(static_cast<std::uint16_t>(p.address), p.data), random);
            lowest = std::min<std::size_t>(lowest, p.address);
        }
        text += random() % 2 == 0 ? EndRecord : ":00000001ff\r\n";
        ASSERT_TRUE(convertHexToBin(text, dir / "ours.bin")) << text;
        expectObjcopyAgrees(dir, text, readBytes(dir / "ours.bin"), lowest);
    }
}

constexpr std::size_t Limit = 8192;

struct Toolchain {
    std::vector<std::string> records;  // without line ends
    std::size_t lowest = Limit;
    std::size_t firstData = 0;  // index of the first data record
};

// Data records placed through segment bases or plain 16-bit addresses; some repeated exactly,
// which must be taken.
Toolchain generate(std::mt19937& random) {
    Toolchain g;
    g.records.push_back(withoutLineEnd(hexRecord(0, {0, 0}, 0x04)));
    if (random() % 2 == 0) {
        g.records.push_back(withoutLineEnd(hexRecord(0, {0x12, 0x34, 0x56, 0x78}, 0x03)));
    }
    g.firstData = g.records.size();
    for (const Placed& p : place(random, Limit - 40, 1 + random() % 30,
                                 [&] { return static_cast<std::uint32_t>(1 + random() % 40); })) {
        const std::uint32_t base = random() % 2 == 0 ? 0 : (p.address >> 4) - random() % 4;
        const std::uint32_t segment = std::min(base, p.address >> 4);
        g.records.push_back(withoutLineEnd(hexRecord(
            0, {static_cast<std::uint8_t>(segment >> 8), static_cast<std::uint8_t>(segment)},
            0x02)));
        g.records.push_back(withoutLineEnd(
            hexRecord(static_cast<std::uint16_t>(p.address - segment * 16), p.data)));
        if (random() % 8 == 0) {
            g.records.push_back(g.records.back());
        }
        g.lowest = std::min<std::size_t>(g.lowest, p.address);
    }
    g.records.push_back(":00000001FF");
    return g;
}

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

// Each text is then damaged in one way and must fail at the record damaged.
TEST(HexPeer, ToolchainTextsReadAsObjcopyReadsThemAndFailAtTheRecordDamaged) {
    const bool peer = objcopyInstalled();
    TempDir dir;
    std::mt19937 random(4170);
    for (int n = 0; n < 200; ++n) {
        const Toolchain g = generate(random);
        const std::string text = textOf(g.records, random);
        const HexReading reading = readHex(text, HexDialect::Toolchain, Limit);
        ASSERT_TRUE(reading.ok()) << describeHexReading(reading) << " at record "
                                  << reading.faultRecord << "\n"
                                  << text;
        EXPECT_EQ(reading.lowest, g.lowest);
        EXPECT_EQ(reading.highest + 1, reading.bytes.size());
        if (peer) {
            expectObjcopyAgrees(dir, text, reading.bytes, g.lowest);
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

}  // namespace
}  // namespace zq::test
