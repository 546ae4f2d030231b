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

bool objcopy(const fs::path& hex, const fs::path& bin) {
    const std::string command = "objcopy -I ihex -O binary --gap-fill 0 '" + hex.string() + "' '" +
                                bin.string() + "' 2>/dev/null";
    return std::system(command.c_str()) == 0;
}

struct Generated {
    std::string text;
    std::size_t lowest = 0x20000;
};

// Records of random length at random places that do not overlap (objcopy has no rule for
// overlaps), in a random order, some in lower-case digits, some reaching past 0xFFFF.
Generated generate(std::mt19937& random) {
    const int records = 1 + static_cast<int>(random() % 40);
    const std::uint32_t span = random() % 2 == 0 ? 0x400 : 0x10000;
    std::vector<bool> taken(span + 255);
    Generated g;
    for (int attempt = 0, made = 0; made < records && attempt < 500; ++attempt) {
        const std::uint32_t count = random() % 8 == 0 ? 255 : 1 + random() % 32;
        const std::uint32_t address = random() % span;
        if (std::find(taken.begin() + address, taken.begin() + address + count, true) !=
            taken.begin() + address + count) {
            continue;
        }
        std::fill(taken.begin() + address, taken.begin() + address + count, true);
        std::vector<std::uint8_t> data(count);
        for (std::uint8_t& b : data) {
            b = static_cast<std::uint8_t>(random());
        }
        std::string record = hexRecord(static_cast<std::uint16_t>(address), data);
        if (random() % 3 == 0) {
            std::transform(record.begin(), record.end(), record.begin(),
                           [](char c) { return static_cast<char>(std::tolower(c)); });
        }
        g.text += record;
        g.lowest = std::min<std::size_t>(g.lowest, address);
        ++made;
    }
    g.text += random() % 2 == 0 ? EndRecord : ":00000001ff\r\n";
    return g;
}

// Every other file is compared with objcopy's output; each is then given one change that makes it
// a file the board's tool refuses, and the output must not survive that.
TEST(HexPeer, GeneratedFilesMatchObjcopyAndFailLeavingTheOlderOutputOnceDamaged) {
    const bool peer = std::system("objcopy --version >/dev/null 2>&1") == 0;
    TempDir dir;
    std::mt19937 random(417);
    for (int n = 0; n < 300; ++n) {
        const Generated g = generate(random);
        writeText(dir / "in.hex", g.text);
        if (peer && n % 2 == 0) {
            ASSERT_TRUE(objcopy(dir / "in.hex", dir / "peer.bin")) << g.text;
            ASSERT_TRUE(convertHexToBin(g.text, dir / "ours.bin")) << g.text;
            const std::vector<std::uint8_t> ours = readBytes(dir / "ours.bin");
            ASSERT_GE(ours.size(), g.lowest) << n;
            const auto lowest = ours.begin() + static_cast<long>(g.lowest);
            EXPECT_EQ(std::count(ours.begin(), lowest, 0), lowest - ours.begin()) << n;
            EXPECT_EQ(std::vector<std::uint8_t>(lowest, ours.end()), readBytes(dir / "peer.bin"))
                << "file " << n << ":\n"
                << g.text;
        }

        std::string text = g.text;
        const std::size_t at = random() % (text.size() - EndRecord.size());
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
        writeText(dir / "out.bin", "older");
        EXPECT_FALSE(convertHexToBin(text, dir / "out.bin")) << "file " << n << ":\n" << text;
        EXPECT_EQ(readBytes(dir / "out.bin").size(), 5u) << n;
    }
    if (!peer) {
        GTEST_SKIP() << "objcopy (binutils) is not installed: only the damaged files were checked";
    }
}

}  // namespace
}  // namespace zq::test
