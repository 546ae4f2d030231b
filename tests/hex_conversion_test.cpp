// Intel HEX to binary: which texts convert, what lands where, and that a text the board's tool
// refuses never leaves an output file behind.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "image/hex_convert.h"
#include "image/hex_image.h"
#include "image/hex_record.h"
#include "support/image_files.h"

namespace zq::test {
namespace {

std::vector<std::uint8_t> counting(std::size_t count, std::uint8_t first = 1) {
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<std::uint8_t>(first + i);
    }
    return bytes;
}

struct Conversion {
    TempDir dir;
    std::filesystem::path out = dir / "out.bin";

    bool convert(std::string_view text) { return convertHexToBin(text, out); }
    std::vector<std::uint8_t> output() const { return readBytes(out); }
    bool outputExists() const { return std::filesystem::exists(out); }
};

// ---------------------------------------------------------------------------------------------
// Texts that convert

TEST(HexConversion, DataRecordThenEndRecordGivesTheDataBytes) {
    Conversion c;
    ASSERT_TRUE(c.convert(":0400000001020304F2\r\n:00000001FF\r\n"));
    EXPECT_EQ(c.output(), (std::vector<std::uint8_t>{1, 2, 3, 4}));
}

TEST(HexConversion, EndRecordAloneGivesAnEmptyFile) {
    Conversion c;
    ASSERT_TRUE(c.convert(EndRecord));
    EXPECT_TRUE(c.outputExists());
    EXPECT_TRUE(c.output().empty());
}

TEST(HexConversion, GapBetweenRecordsReadsBackAsZero) {
    Conversion c;
    ASSERT_TRUE(
        c.convert(hexRecord(0x0000, counting(16)) + hexRecord(0x0100, {9, 8, 7}) + EndRecord));
    std::vector<std::uint8_t> expected = counting(16);
    expected.resize(0x100, 0);
    expected.insert(expected.end(), {9, 8, 7});
    EXPECT_EQ(c.output(), expected);
}

TEST(HexConversion, RecordsInAnyAddressOrderLandAtTheirOwnAddresses) {
    Conversion c;
    // Highest first, one continuing exactly where the previous one ended, and one going back
    // to overwrite part of an earlier record: the later record wins.
    ASSERT_TRUE(c.convert(hexRecord(0x0020, {0xC0, 0xC1}) + hexRecord(0x0004, {0xB0, 0xB1}) +
                          hexRecord(0x0006, {0xB2}) + hexRecord(0x0000, counting(5, 0xA0)) +
                          EndRecord));
    std::vector<std::uint8_t> expected(0x22, 0);
    for (const auto& [at, value] : std::vector<std::pair<int, int>>{{0, 0xA0},
                                                                    {1, 0xA1},
                                                                    {2, 0xA2},
                                                                    {3, 0xA3},
                                                                    {4, 0xA4},
                                                                    {5, 0xB1},
                                                                    {6, 0xB2},
                                                                    {0x20, 0xC0},
                                                                    {0x21, 0xC1}}) {
        expected[static_cast<std::size_t>(at)] = static_cast<std::uint8_t>(value);
    }
    EXPECT_EQ(c.output(), expected);
}

TEST(HexConversion, DigitsOfEitherCaseAndNothingAfterTheEndRecordIsRead) {
    Conversion c;
    ASSERT_TRUE(c.convert(":04000000abCDef1085\r\n:00000001ff\r\nnot hex at all\r\n:02"));
    EXPECT_EQ(c.output(), (std::vector<std::uint8_t>{0xAB, 0xCD, 0xEF, 0x10}));
}

TEST(HexConversion, RecordReachingPastSixtyFourKilobytesIsNotWrappedToTheStart) {
    Conversion c;
    ASSERT_TRUE(c.convert(hexRecord(0xFFFE, {1, 2, 3, 4}) + EndRecord));
    const std::vector<std::uint8_t> out = c.output();
    ASSERT_EQ(out.size(), 0x10002u);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(std::vector<std::uint8_t>(out.end() - 4, out.end()),
              (std::vector<std::uint8_t>{1, 2, 3, 4}));
}

// ---------------------------------------------------------------------------------------------
// Texts that fail, and leave no file

struct Refused {
    const char* what;
    std::string text;
    HexFault fault;
};

std::vector<Refused> refusedTexts() {
    const std::string good = hexRecord(0x0000, {1, 2, 3, 4});
    std::string lfOnly = good;
    lfOnly.erase(lfOnly.size() - 2, 1);
    return {
        {"checksum one too high", hexRecord(0, {1, 2, 3, 4}, 0, +1) + EndRecord,
         HexFault::BadChecksum},
        {"checksum one too low", good + hexRecord(8, {5}, 0, -1) + EndRecord,
         HexFault::BadChecksum},
        {"extended address record", hexRecord(0, {0x10, 0x00}, 0x02) + good + EndRecord,
         HexFault::UnsupportedType},
        {"extended linear address", good + hexRecord(0, {0x00, 0x01}, 0x04) + EndRecord,
         HexFault::UnsupportedType},
        {"end type with data", hexRecord(0, {0x00}, 0x01) + EndRecord, HexFault::UnsupportedType},
        {"count 00 that is not the end record", good + ":00000101FE\r\n" + EndRecord,
         HexFault::BadEndRecord},
        {"count 00 record of type 00", ":0000000000\r\n" + EndRecord, HexFault::BadEndRecord},
        {"line ending in LF alone", lfOnly + EndRecord, HexFault::NoLineEnd},
        {"end record ending in LF alone", good + ":00000001FF\n", HexFault::CutShort},
        {"end record with LF CR", good + ":00000001FF\n\r", HexFault::BadEndRecord},
        {"blank between FF and CR LF", good + ":00000001FF \r\n", HexFault::BadEndRecord},
        {"CR between FF and CR LF", good + ":00000001FF\r\r\n", HexFault::BadEndRecord},
        {"no end record", good, HexFault::NoEndRecord},
        {"empty text", "", HexFault::NoEndRecord},
        {"blank line between records", good + "\r\n" + EndRecord, HexFault::NoColon},
        {"text before the first record", "x" + good + EndRecord, HexFault::NoColon},
        {"letter that is not hex", ":04000000010203G4EF\r\n" + EndRecord, HexFault::NotHexDigit},
        // Read loosely, " 0", "-0" and "0G" are all 00 and the checksums below would add up.
        {"blank inside a byte", ":0200000001 0FD\r\n" + EndRecord, HexFault::NotHexDigit},
        {"sign inside a byte", ":0200000001-0FD\r\n" + EndRecord, HexFault::NotHexDigit},
        {"half a byte", ":02000000010GFD\r\n" + EndRecord, HexFault::NotHexDigit},
        {"hex prefix", ":020000000x01FD\r\n" + EndRecord, HexFault::NotHexDigit},
    };
}

TEST(HexConversion, RefusedTextFailsAndRemovesTheOutputItTruncated) {
    for (const Refused& r : refusedTexts()) {
        Conversion c;
        writeText(c.out, "an older file of that name");
        EXPECT_FALSE(c.convert(r.text)) << r.what;
        EXPECT_FALSE(c.outputExists()) << r.what;
        const HexImage image = decodeHex(r.text);
        EXPECT_EQ(image.fault, r.fault) << r.what;
    }
}

TEST(HexConversion, FaultNamesTheRecordItIsIn) {
    const HexImage image =
        decodeHex(hexRecord(0, {1}) + hexRecord(1, {2}) + hexRecord(2, {3}, 0, 1) + EndRecord);
    EXPECT_EQ(image.fault, HexFault::BadChecksum);
    EXPECT_EQ(image.faultRecord, 3u);
    EXPECT_TRUE(image.bytes.empty());
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
        if (length != endRecordStart) {
            const std::string_view record =
                text.substr(length > endRecordStart ? endRecordStart : 0);
            EXPECT_TRUE(checkHexRecord(record)) << length;
            EXPECT_FALSE(isHexEofRecord(record)) << length;
        }

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

TEST(HexRecord, CheckSumsEveryDataByteOfTheLongestRecord) {
    std::vector<std::uint8_t> data(255);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(0xFF - i);
    }
    const std::string record = hexRecord(0x1234, data);
    ASSERT_EQ(record.size(), 2 * 255 + 13u);
    EXPECT_FALSE(checkHexRecord(record));
    // A change to the last data byte alone must be noticed.
    std::string changed = record;
    changed[2 * 254 + 9 + 1] = changed[2 * 254 + 9 + 1] == '0' ? '1' : '0';
    EXPECT_TRUE(checkHexRecord(changed));
    EXPECT_TRUE(checkHexRecord(hexRecord(0x1234, data, 0, 1)));
}

TEST(HexRecord, CheckLooksAtLayoutAndSumButNotAtTheType) {
    EXPECT_FALSE(checkHexRecord(EndRecord));
    EXPECT_FALSE(checkHexRecord(hexRecord(0, {0x10, 0x00}, 0x02)));
    EXPECT_TRUE(checkHexRecord("0400000001020304F2\r\n"));     // no colon
    EXPECT_TRUE(checkHexRecord(":0400000001020304F2\n"));      // LF alone
    EXPECT_TRUE(checkHexRecord(":0400000001020304F2\r\r\n"));  // anything before CR LF
    EXPECT_TRUE(checkHexRecord(":0400000001020304F2"));
    EXPECT_TRUE(checkHexRecord(""));
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
