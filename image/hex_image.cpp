#include "image/hex_image.h"

#include <algorithm>
#include <optional>

#include "image/hex_record.h"

namespace zq {

namespace {

// A field that cannot be read is either cut off by the end of the text or not hex.
HexFault unreadable(std::string_view record, std::size_t index) {
    return index + 2 > record.size() ? HexFault::CutShort : HexFault::NotHexDigit;
}

struct RecordResult {
    HexFault fault = HexFault::None;
    bool end = false;
    std::size_t length = 0;  // characters the record took, its CR LF included
};

RecordResult decodeRecord(std::string_view record, std::vector<std::uint8_t>& bytes) {
    if (record.empty()) {
        return {HexFault::NoEndRecord};
    }
    if (record[0] != ':') {
        return {HexFault::NoColon};
    }
    const auto count = parseHexByte(record, 1);
    if (!count) {
        return {unreadable(record, 1)};
    }
    if (*count == 0) {
        if (isHexEofRecord(record)) {
            return {HexFault::None, true, hexRecordLength(0)};
        }
        return {record.size() < hexRecordLength(0) ? HexFault::CutShort : HexFault::BadEndRecord};
    }
    // Every field is read before anything is stored, so a bad record changes nothing.
    std::uint8_t fields[4 + 255 + 1];
    const std::size_t fieldCount = 4 + std::size_t{*count} + 1;
    for (std::size_t n = 0; n < fieldCount; ++n) {
        const std::size_t index = 1 + 2 * n;
        const auto byte = parseHexByte(record, index);
        if (!byte) {
            return {unreadable(record, index)};
        }
        fields[n] = *byte;
        if (n == 3 && *byte != 0x00) {
            return {HexFault::UnsupportedType};
        }
    }
    unsigned sum = 0;
    for (std::size_t n = 0; n < fieldCount; ++n) {
        sum += fields[n];
    }
    if (sum % 256 != 0) {
        return {HexFault::BadChecksum};
    }
    const std::size_t lineEnd = hexRecordLength(*count) - 2;
    if (lineEnd + 2 > record.size()) {
        return {HexFault::CutShort};
    }
    if (record[lineEnd] != '\r' || record[lineEnd + 1] != '\n') {
        return {HexFault::NoLineEnd};
    }
    const std::size_t address = std::size_t{fields[1]} << 8 | fields[2];
    const std::size_t end = address + *count;
    if (bytes.size() < end) {
        bytes.resize(end, 0);
    }
    std::copy(fields + 4, fields + 4 + *count,
              bytes.begin() + static_cast<std::ptrdiff_t>(address));
    return {HexFault::None, false, hexRecordLength(*count)};
}

}  // namespace

HexImage decodeHex(std::string_view text) {
    HexImage image;
    std::size_t position = 0;
    for (std::size_t record = 1;; ++record) {
        const RecordResult result = decodeRecord(text.substr(position), image.bytes);
        if (result.fault != HexFault::None) {
            image.bytes.clear();
            image.fault = result.fault;
            image.faultRecord = record;
            return image;
        }
        if (result.end) {
            return image;
        }
        position += result.length;
    }
}

std::string_view describeHexFault(HexFault fault) {
    switch (fault) {
        case HexFault::None:
            return "no fault";
        case HexFault::NoEndRecord:
            return "the text ends without the end record :00000001FF";
        case HexFault::NoColon:
            return "the record does not start with ':'";
        case HexFault::CutShort:
            return "the text ends inside the record";
        case HexFault::NotHexDigit:
            return "a character that is not a hex digit";
        case HexFault::BadEndRecord:
            return "a record of count 00 that is not the end record :00000001FF";
        case HexFault::UnsupportedType:
            return "only data records (type 00) with 16-bit addresses are accepted";
        case HexFault::BadChecksum:
            return "the checksum does not add up";
        case HexFault::NoLineEnd:
            return "the record is not followed directly by CR LF";
    }
    return "unknown fault";
}

}  // namespace zq
