#include "image/hex_reader.h"

#include <algorithm>
#include <cstdio>

#include "image/hex_record.h"
#include "image/image_sniff.h"

namespace zq {

namespace {

bool isLineEnd(char c) {
    return c == '\r' || c == '\n';
}

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// One record's fields: count, address (two bytes), type, the data, the checksum.
struct Fields {
    std::uint8_t bytes[4 + 255 + 1];
    std::uint8_t count() const { return bytes[0]; }
    std::uint16_t address() const { return static_cast<std::uint16_t>(bytes[1] << 8 | bytes[2]); }
    std::uint8_t type() const { return bytes[3]; }
    const std::uint8_t* data() const { return bytes + 4; }
    std::uint16_t word(std::size_t n) const {
        return static_cast<std::uint16_t>(data()[n] << 8 | data()[n + 1]);
    }
};

struct RecordResult {
    HexFault fault = HexFault::None;
    std::size_t length = 0;  // characters the record took, a line end included in BoardTool
};

// Where the image being read goes, and where the reading stands.
struct Reader {
    HexDialect dialect;
    std::size_t addressLimit;
    HexReading reading;
    std::vector<bool> given;  // Toolchain only: which bytes a record has set
    std::uint64_t segmentBase = 0;
    std::uint64_t linearBase = 0;

    // Checks the whole record's bytes against the limit and, in Toolchain, against what earlier
    // records gave, before anything is stored or allocated.
    HexFault store(std::uint64_t address, const std::uint8_t* data, std::size_t count) {
        if (count == 0) {
            return HexFault::None;
        }
        if (address + count > addressLimit) {
            reading.faultAddress = std::max<std::uint64_t>(address, addressLimit);
            return HexFault::AddressTooHigh;
        }
        auto& bytes = reading.bytes;
        if (dialect == HexDialect::Toolchain) {
            for (std::size_t n = 0; n < count; ++n) {
                const std::size_t at = static_cast<std::size_t>(address) + n;
                if (at < given.size() && given[at] && bytes[at] != data[n]) {
                    reading.faultAddress = at;
                    return HexFault::Overlap;
                }
            }
        }
        const std::size_t end = static_cast<std::size_t>(address) + count;
        if (bytes.size() < end) {
            bytes.resize(end, 0);
        }
        if (dialect == HexDialect::Toolchain) {
            given.resize(std::max(given.size(), end), false);
            for (std::size_t at = static_cast<std::size_t>(address); at < end; ++at) {
                reading.dataBytes += given[at] ? 0 : 1;
                given[at] = true;
            }
        } else {
            reading.dataBytes += count;
        }
        const auto first = static_cast<std::uint32_t>(address);
        const auto last = static_cast<std::uint32_t>(end - 1);
        std::copy(data, data + count, bytes.begin() + static_cast<std::ptrdiff_t>(address));
        if (!anyData) {
            reading.lowest = first;
            reading.highest = last;
            anyData = true;
        } else {
            reading.lowest = std::min(reading.lowest, first);
            reading.highest = std::max(reading.highest, last);
        }
        return HexFault::None;
    }

    bool anyData = false;
};

// A field that cannot be read is either cut off by the end of the text or not hex.
HexFault unreadable(std::string_view record, std::size_t index) {
    return index + 2 > record.size() ? HexFault::CutShort : HexFault::NotHexDigit;
}

// The board tool's layout: fixed CR LF, data records and the exact end record only. The order of
// the tests decides which fault a damaged record is reported with, and stays as it always was.
RecordResult boardToolRecord(std::string_view record, Reader& reader, bool& end) {
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
            end = true;
            return {HexFault::None, hexRecordLength(0)};
        }
        return {record.size() < hexRecordLength(0) ? HexFault::CutShort : HexFault::BadEndRecord};
    }
    Fields fields;
    const std::size_t fieldCount = 4 + std::size_t{*count} + 1;
    for (std::size_t n = 0; n < fieldCount; ++n) {
        const std::size_t index = 1 + 2 * n;
        const auto byte = parseHexByte(record, index);
        if (!byte) {
            return {unreadable(record, index)};
        }
        fields.bytes[n] = *byte;
        if (n == 3 && *byte != 0x00) {
            return {HexFault::UnsupportedType};
        }
    }
    unsigned sum = 0;
    for (std::size_t n = 0; n < fieldCount; ++n) {
        sum += fields.bytes[n];
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
    const HexFault stored = reader.store(fields.address(), fields.data(), *count);
    return {stored, hexRecordLength(*count)};
}

// The two digits at index, told apart from a line that ended early and a text that ended.
HexFault toolchainByte(std::string_view record, std::size_t index, std::uint8_t& byte) {
    for (const std::size_t at : {index, index + 1}) {
        if (at >= record.size()) {
            return HexFault::CutShort;
        }
        if (isLineEnd(record[at])) {
            return HexFault::CountMismatch;
        }
        if (!isHexDigit(record[at])) {
            return HexFault::NotHexDigit;
        }
    }
    byte = *parseHexByte(record, index);
    return HexFault::None;
}

// The layout binutils reads; the line end is left to the caller, which skips any run of them.
RecordResult toolchainRecord(std::string_view record, Reader& reader, bool& end) {
    if (record[0] != ':') {
        return {HexFault::NoColon};
    }
    Fields fields;
    if (const HexFault f = toolchainByte(record, 1, fields.bytes[0]); f != HexFault::None) {
        return {f};
    }
    const std::size_t fieldCount = 4 + std::size_t{fields.count()} + 1;
    for (std::size_t n = 1; n < fieldCount; ++n) {
        if (const HexFault f = toolchainByte(record, 1 + 2 * n, fields.bytes[n]);
            f != HexFault::None) {
            return {f};
        }
    }
    const std::size_t length = 1 + 2 * fieldCount;
    if (length < record.size() && !isLineEnd(record[length])) {
        // More digits say the count is wrong; anything else is not part of a record at all.
        std::size_t at = length;
        while (at < record.size() && isHexDigit(record[at])) {
            ++at;
        }
        return {at == record.size() || isLineEnd(record[at]) ? HexFault::CountMismatch
                                                             : HexFault::TrailingData};
    }
    unsigned sum = 0;
    for (std::size_t n = 0; n < fieldCount; ++n) {
        sum += fields.bytes[n];
    }
    if (sum % 256 != 0) {
        return {HexFault::BadChecksum};
    }
    const std::uint8_t count = fields.count();
    switch (fields.type()) {
        case 0x00: {
            const std::uint64_t address = reader.linearBase + reader.segmentBase + fields.address();
            return {reader.store(address, fields.data(), count), length};
        }
        case 0x01:
            end = true;
            return {HexFault::None, length};
        case 0x02:
        case 0x04:
            if (count != 2) {
                return {HexFault::BadAddressRecord};
            }
            if (fields.type() == 0x02) {
                reader.segmentBase = std::uint64_t{fields.word(0)} << 4;
            } else {
                reader.linearBase = std::uint64_t{fields.word(0)} << 16;
            }
            return {HexFault::None, length};
        case 0x03:
        case 0x05:
            // A start address means nothing to an image that always starts at 0.
            return {count == 4 ? HexFault::None : HexFault::BadAddressRecord, length};
        default:
            return {HexFault::UnknownType};
    }
}

}  // namespace

HexReading readHex(std::string_view text, HexDialect dialect, std::size_t addressLimit) {
    Reader reader{dialect, addressLimit, {}, {}};
    reader.reading.addressLimit = addressLimit;
    // The board's own tool wants the colon as the very first character.
    std::size_t position =
        dialect == HexDialect::Toolchain ? text.size() - withoutByteOrderMark(text).size() : 0;
    for (std::size_t record = 1;; ++record) {
        bool end = false;
        RecordResult result;
        if (dialect == HexDialect::BoardTool) {
            result = boardToolRecord(text.substr(position), reader, end);
        } else {
            while (position < text.size() && isLineEnd(text[position])) {
                ++position;
            }
            result = position == text.size() ? RecordResult{HexFault::NoEndRecord}
                                             : toolchainRecord(text.substr(position), reader, end);
        }
        if (result.fault != HexFault::None) {
            HexReading failed;
            failed.fault = result.fault;
            failed.faultRecord = record;
            failed.faultAddress = reader.reading.faultAddress;
            failed.records = record - 1;
            failed.addressLimit = addressLimit;
            return failed;
        }
        reader.reading.records = record;
        if (end) {
            return std::move(reader.reading);
        }
        position += result.length;
    }
}

std::string describeHexReading(const HexReading& reading) {
    char address[32];
    switch (reading.fault) {
        case HexFault::Overlap:
            std::snprintf(address, sizeof address, "0x%04llX",
                          static_cast<unsigned long long>(reading.faultAddress));
            return "it gives address " + std::string(address) +
                   " another value than an earlier record did";
        case HexFault::AddressTooHigh:
            std::snprintf(address, sizeof address, "0x%llX",
                          static_cast<unsigned long long>(reading.faultAddress));
            return "its data reaches address " + std::string(address) + ", past the " +
                   std::to_string(reading.addressLimit) + " bytes an image may take";
        default:
            return std::string(describeHexFault(reading.fault));
    }
}

}  // namespace zq
