// The HEX conversion against binutils objcopy on generated files. objcopy writes from the lowest
// address on, ours from address 0, so ours is compared from the lowest address and must hold only
// zeros below it. Files objcopy would take but the board's tool does not (other record types, LF
// line ends) are not generated here; those are refused, and the refusals are checked as well.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "image/hex_convert.h"
#include "support/image_files.h"

namespace zq::test {
namespace {

namespace fs = std::filesystem;

bool objcopyAvailable() {
    return std::system("objcopy --version >/dev/null 2>&1") == 0;
}

bool objcopy(const fs::path& hex, const fs::path& bin) {
    const std::string command = "objcopy -I ihex -O binary --gap-fill 0 '" + hex.string() + "' '" +
                                bin.string() + "' 2>/dev/null";
    return std::system(command.c_str()) == 0;
}

struct Generated {
    std::string text;
    std::size_t lowest = 0;
};

// Records of random length at random places that do not overlap (objcopy has no rule for
// overlaps), in a random order, some in lower-case digits, some reaching past 0xFFFF.
Generated generate(std::mt19937& random) {
    std::uniform_int_distribution<int> byte(0, 255);
    const int records = std::uniform_int_distribution<int>(1, 40)(random);
    std::vector<std::pair<std::uint16_t, std::vector<std::uint8_t>>> chunks;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> taken;
    const std::uint32_t span = random() % 2 == 0 ? 0x400 : 0x10000;
    for (int attempt = 0; static_cast<int>(chunks.size()) < records && attempt < 500; ++attempt) {
        const std::uint32_t count = random() % 8 == 0 ? 255 : 1 + random() % 32;
        const std::uint32_t address = random() % span;
        const bool overlaps = std::any_of(taken.begin(), taken.end(), [&](const auto& t) {
            return address < t.second && t.first < address + count;
        });
        if (overlaps) {
            continue;
        }
        taken.emplace_back(address, address + count);
        std::vector<std::uint8_t> data(count);
        for (std::uint8_t& b : data) {
            b = static_cast<std::uint8_t>(byte(random));
        }
        chunks.emplace_back(static_cast<std::uint16_t>(address), std::move(data));
    }
    Generated g;
    g.lowest = 0x20000;
    for (const auto& [address, data] : chunks) {
        std::string record = hexRecord(address, data);
        if (random() % 3 == 0) {
            std::transform(record.begin(), record.end(), record.begin(),
                           [](char c) { return static_cast<char>(std::tolower(c)); });
        }
        g.text += record;
        g.lowest = std::min<std::size_t>(g.lowest, address);
    }
    g.text += random() % 2 == 0 ? EndRecord : ":00000001ff\r\n";
    return g;
}

TEST(HexPeer, GeneratedFilesMatchObjcopyByteForByte) {
    if (!objcopyAvailable()) {
        GTEST_SKIP() << "objcopy (binutils) is not installed";
    }
    TempDir dir;
    std::mt19937 random(417);
    for (int n = 0; n < 150; ++n) {
        const Generated g = generate(random);
        const fs::path hex = dir / "in.hex";
        writeText(hex, g.text);
        ASSERT_TRUE(objcopy(hex, dir / "peer.bin")) << g.text;
        ASSERT_TRUE(convertHexToBin(g.text, dir / "ours.bin")) << g.text;
        const std::vector<std::uint8_t> peer = readBytes(dir / "peer.bin");
        const std::vector<std::uint8_t> ours = readBytes(dir / "ours.bin");
        ASSERT_GE(ours.size(), g.lowest) << n;
        EXPECT_TRUE(std::all_of(ours.begin(), ours.begin() + static_cast<long>(g.lowest),
                                [](std::uint8_t b) { return b == 0; }))
            << n;
        EXPECT_EQ(std::vector<std::uint8_t>(ours.begin() + static_cast<long>(g.lowest), ours.end()),
                  peer)
            << "file " << n << ":\n"
            << g.text;
    }
}

// One change to a valid file that makes it one the board's tool refuses; the output must not
// survive it.
TEST(HexPeer, DamagedGeneratedFilesFailWithNoOutputLeft) {
    TempDir dir;
    std::mt19937 random(1704);
    const fs::path out = dir / "ours.bin";
    for (int n = 0; n < 300; ++n) {
        std::string text = generate(random).text;
        const std::size_t endStart = text.size() - EndRecord.size();
        const std::size_t at = random() % endStart;
        switch (n % 5) {
            case 0:  // a digit changed to another digit: the checksum no longer adds up
                if (std::isxdigit(static_cast<unsigned char>(text[at])) == 0) {
                    continue;
                }
                text[at] = text[at] == '7' ? '8' : '7';
                break;
            case 1:  // cut short anywhere before the end record is complete
                text.resize(random() % (text.size() - 1));
                break;
            case 2:  // a CR lost
                if (const auto cr = text.find('\r', at); cr != std::string::npos) {
                    text.erase(cr, 1);
                }
                break;
            case 3:  // a character inserted
                text.insert(at, 1, "G \r\n:0"[random() % 6]);
                break;
            case 4:  // an extended address record in front
                text.insert(0, hexRecord(0, {0x10, 0x00}, 0x02));
                break;
        }
        writeText(out, "older");
        EXPECT_FALSE(convertHexToBin(text, out)) << "file " << n << ":\n" << text;
        EXPECT_FALSE(fs::exists(out)) << n;
    }
}

}  // namespace
}  // namespace zq::test
