#include "image/hex_record.h"

namespace zq {

namespace {

std::optional<std::uint8_t> hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return static_cast<std::uint8_t>(c - '0');
    }
    if (c >= 'A' && c <= 'F') {
        return static_cast<std::uint8_t>(c - 'A' + 10);
    }
    if (c >= 'a' && c <= 'f') {
        return static_cast<std::uint8_t>(c - 'a' + 10);
    }
    return std::nullopt;
}

bool lineEndAt(std::string_view line, std::size_t index) {
    return index + 1 < line.size() && line[index] == '\r' && line[index + 1] == '\n';
}

}  // namespace

std::optional<std::uint8_t> parseHexByte(std::string_view line, std::size_t index) {
    if (index == 0) {
        if (line.empty()) {
            return std::nullopt;
        }
        return static_cast<std::uint8_t>(line[0]);
    }
    if (index >= line.size() || line.size() - index < 2) {
        return std::nullopt;
    }
    const auto high = hexDigit(line[index]);
    const auto low = hexDigit(line[index + 1]);
    if (!high || !low) {
        return std::nullopt;
    }
    return static_cast<std::uint8_t>(*high << 4 | *low);
}

bool checkHexRecord(std::string_view line) {
    if (line.empty() || line[0] != ':') {
        return true;
    }
    const auto count = parseHexByte(line, 1);
    if (!count) {
        return true;
    }
    // Count, address (two bytes) and type, then the data bytes and the checksum.
    unsigned sum = 0;
    const std::size_t summed = 4 + std::size_t{*count} + 1;
    for (std::size_t n = 0; n < summed; ++n) {
        const auto byte = parseHexByte(line, 1 + 2 * n);
        if (!byte) {
            return true;
        }
        sum += *byte;
    }
    if (sum % 256 != 0) {
        return true;
    }
    return !lineEndAt(line, 2 * std::size_t{*count} + 11);
}

bool isHexEofRecord(std::string_view line) {
    if (line.empty() || line[0] != ':') {
        return false;
    }
    constexpr std::uint8_t EndRecord[] = {0x00, 0x00, 0x00, 0x01, 0xFF};
    for (std::size_t n = 0; n < std::size(EndRecord); ++n) {
        if (parseHexByte(line, 1 + 2 * n) != EndRecord[n]) {
            return false;
        }
    }
    return lineEndAt(line, 11);
}

}  // namespace zq
