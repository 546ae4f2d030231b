// Intel HEX to binary: which texts convert, what lands where, and that a text the board's tool
// refuses never changes or leaves an output file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "image/hex_convert.h"
#include "image/hex_image.h"
#include "image/hex_record.h"
#include "support/image_files.h"

namespace zq::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes counting(std::size_t count, std::uint8_t first = 1) {
    Bytes bytes(count);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

struct Conversion {
    TempDir dir;
    std::filesystem::path out = dir / "out.bin";

    bool convert(std::string_view text) { return convertHexToBin(text, out); }
    bool outputExists() const { return std::filesystem::exists(out); }
};

// Generated texts are read as objcopy reads them (hex_peer_test); these are what it has no rule
// for: a record going back to overwrite part of an earlier one (the later record wins), an image
// of no bytes and whatever follows the end record, which is never read; nor do its records reach
// past 64 KiB, where nothing is wrapped to the start.
TEST(HexConversion, AcceptedTextGivesEachRecordsBytesAtItsAddress) {
    const std::string anyOrder = hexRecord(0x0020, {0xC0, 0xC1}) + hexRecord(0x0004, {0xB0, 0xB1}) +
                                 hexRecord(0x0006, {0xB2}) + hexRecord(0x0000, counting(5, 0xA0));
    const std::vector<std::pair<std::string, Bytes>> accepted{
        {EndRecord, {}},
        {anyOrder + EndRecord,
         with(with(Bytes(0x22), 0, {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xB1, 0xB2}), 0x20,
              {0xC0, 0xC1})},
        {":04000000abCDef1085\r\n:00000001ff\r\nnot hex at all\r\n:02", {0xAB, 0xCD, 0xEF, 0x10}},
        {hexRecord(0xFFFE, {1, 2, 3, 4}) + EndRecord, with(Bytes(0x10002), 0xFFFE, {1, 2, 3, 4})}};
    for (const auto& [text, bytes] : accepted) {
        Conversion conversion;
        ASSERT_TRUE(conversion.convert(text)) << text;
        EXPECT_TRUE(conversion.outputExists()) << text;
        EXPECT_EQ(readBytes(conversion.out), bytes) << text;
    }
}

TEST(HexConversion, RefusedTextFailsNamingTheRecordAndLeavesTheOlderOutput) {
    using enum HexFault;
    const std::string good = hexRecord(0x0000, {1, 2, 3, 4});
    const std::string bare = good.substr(0, good.size() - 2);
    struct Case {
        std::string text;
        HexFault fault;
        std::size_t record;
    };
    for (const Case& c : {
             Case{good + hexRecord(8, {5}, 0, -1) + EndRecord, BadChecksum, 2},
             Case{hexRecord(0, {0x00}, 0x01) + EndRecord, UnsupportedType, 1},
             Case{":0000000000\r\n" + EndRecord, BadEndRecord, 1},
             Case{good + ":00000001FF\n\r", BadEndRecord, 2},
             Case{good + ":00000001FF\n", CutShort, 2},
             Case{bare + "\n\n" + EndRecord, NoLineEnd, 1},
             Case{bare + "\r\r\n" + EndRecord, NoLineEnd, 1},
             Case{good, NoEndRecord, 2},
             Case{good + "\r\n" + EndRecord, NoColon, 2},
             // Read loosely, "0G" is 00 and the checksum would add up.
             Case{":02000000010GFD\r\n" + EndRecord, NotHexDigit, 1},
         }) {
        SCOPED_TRACE(c.text);
        Conversion conversion;
        writeText(conversion.out, "an older file of that name");
        EXPECT_FALSE(conversion.convert(c.text));
        EXPECT_EQ(readBytes(conversion.out).size(), 26u);
        const HexImage image = decodeHex(c.text);
        EXPECT_EQ(image.fault, c.fault);
        EXPECT_EQ(image.faultRecord, c.record);
        EXPECT_TRUE(image.bytes.empty());
    }
}

// Each cut is copied into a buffer of exactly its size, so a read past the end of the text is an
// AddressSanitizer report rather than a quiet look at whatever follows.
TEST(HexConversion, TextCutAnywhereInsideARecordFailsWithinTheText) {
    const std::string whole = hexRecord(0x0010, counting(20)) + EndRecord;
    const std::size_t endRecordStart = whole.size() - EndRecord.size();
    for (std::size_t length = 0; length < whole.size(); ++length) {
        const auto cut = std::make_unique<char[]>(length == 0 ? 1 : length);
        std::memcpy(cut.get(), whole.data(), length);
        const std::string_view text(cut.get(), length);
        const HexImage image = decodeHex(text);
        EXPECT_FALSE(image.ok()) << length;
        EXPECT_EQ(image.fault, length == endRecordStart || length == 0 ? HexFault::NoEndRecord
                                                                       : HexFault::CutShort)
            << length;

        Conversion c;
        EXPECT_FALSE(c.convert(text)) << length;
        EXPECT_FALSE(c.outputExists()) << length;
    }
}

TEST(HexConversion, OutputThatCannotBeCreatedFails) {
    TempDir dir;
    EXPECT_FALSE(convertHexToBin(EndRecord, dir / "missing" / "out.bin"));
    EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
    // A directory of that name is neither written nor removed.
    std::filesystem::create_directory(dir / "taken");
    EXPECT_FALSE(convertHexToBin(EndRecord, dir / "taken"));
    EXPECT_TRUE(std::filesystem::is_directory(dir / "taken"));
}

// ---------------------------------------------------------------------------------------------
// The record checks

TEST(HexRecord, CheckLooksAtLayoutAndEverySummedByteButNotAtTheType) {
    const std::string longest = hexRecord(0x1234, counting(255));
    ASSERT_EQ(longest.size(), 2 * 255 + 13u);
    // A change to the last data byte alone must be noticed.
    std::string changed = longest;
    changed[2 * 254 + 9 + 1] = changed[2 * 254 + 9 + 1] == '0' ? '1' : '0';
    const std::string good = ":0400000001020304F2";
    for (const auto& [record, faulty] :
         std::vector<std::pair<std::string, bool>>{{longest, false},
                                                   {hexRecord(0x1234, counting(255), 0, 1), true},
                                                   {changed, true},
                                                   {EndRecord, false},
                                                   {hexRecord(0, {0x10, 0x00}, 0x02), false},
                                                   {good.substr(1) + "\r\n", true},
                                                   {good + "\n", true},
                                                   {good + "\r\r\n", true},
                                                   {good, true},
                                                   {"", true}}) {
        EXPECT_EQ(checkHexRecord(record), faulty) << record;
    }
}

TEST(HexRecord, EndRecordIsExactlyTheOneRecordInEitherCase) {
    EXPECT_TRUE(isHexEofRecord(":00000001FF\r\n"));
    EXPECT_TRUE(isHexEofRecord(":00000001ff\r\n:whatever follows"));
    for (const char* other :
         {":00000001FF\n", ":00000001FF \r\n", ":00000001FF\r", ":00000001FE\r\n",
          ":00000101FE\r\n", ":01000001FE\r\n", "00000001FF\r\n", ""}) {
        EXPECT_FALSE(isHexEofRecord(other)) << other;
    }
}

TEST(HexRecord, ByteIsReadOnlyFromTwoHexDigitsInsideTheText) {
    EXPECT_EQ(parseHexByte(":", 0), ':');
    EXPECT_EQ(parseHexByte(":a5F0", 1), 0xA5);
    EXPECT_EQ(parseHexByte(":a5F0", 3), 0xF0);
    EXPECT_EQ(parseHexByte(":a5F", 3), std::nullopt);
    EXPECT_EQ(parseHexByte(":a5", 3), std::nullopt);
    EXPECT_EQ(parseHexByte("", 0), std::nullopt);
    for (const char* loose : {": 5", ":+5", ":-1", ":5G", ":G5", ":0x"}) {
        EXPECT_EQ(parseHexByte(loose, 1), std::nullopt) << loose;
    }
}

}  // namespace
}  // namespace zq::test
