// The record checks on arbitrary bytes, and the converter held to them: a text converts exactly
// when every record up to the end record passes checkHexRecord as a data record, and each lands
// at its own address. Nothing outside the input may be read (the sanitizers watch).
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "image/hex_image.h"
#include "image/hex_record.h"

namespace {

// The conversion spelled out with the record checks alone.
bool convertByRecords(std::string_view text, std::vector<std::uint8_t>& bytes) {
    std::size_t position = 0;
    while (true) {
        const std::string_view record = text.substr(position);
        const auto colon = zq::parseHexByte(record, 0);
        const auto count = zq::parseHexByte(record, 1);
        if (colon != ':' || !count) {
            return false;
        }
        if (*count == 0) {
            return zq::isHexEofRecord(record);
        }
        if (zq::checkHexRecord(record) || zq::parseHexByte(record, 7) != 0x00) {
            return false;
        }
        const std::size_t address =
            std::size_t{*zq::parseHexByte(record, 3)} << 8 | *zq::parseHexByte(record, 5);
        if (bytes.size() < address + *count) {
            bytes.resize(address + *count, 0);
        }
        for (std::size_t n = 0; n < *count; ++n) {
            bytes[address + n] = *zq::parseHexByte(record, 9 + 2 * n);
        }
        position += zq::hexRecordLength(*count);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    for (std::size_t index = 0; index <= size + 2; ++index) {
        (void)zq::parseHexByte(text, index);
    }
    // An end record is a well-formed record.
    if (zq::isHexEofRecord(text) && zq::checkHexRecord(text)) {
        __builtin_trap();
    }

    const zq::HexImage image = zq::decodeHex(text);
    std::vector<std::uint8_t> expected;
    const bool converts = convertByRecords(text, expected);
    if (image.ok() != converts) {
        __builtin_trap();
    }
    if (image.ok() && image.bytes != expected) {
        __builtin_trap();
    }
    if (!image.ok() && (!image.bytes.empty() || image.faultRecord == 0)) {
        __builtin_trap();
    }
    if (image.bytes.size() > 0xFFFF + 0xFF) {
        __builtin_trap();
    }
    return 0;
}
