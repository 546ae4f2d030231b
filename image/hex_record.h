#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

// One Intel HEX record, read from the start of `line`: the view runs from the record's colon to
// the end of the whole text, so nothing past the text is ever looked at.
namespace zq {

// Index 0 gives the character line[0] itself (the colon test); any other index gives the byte
// written as the two hex digits at index and index + 1. Nothing when a character is missing or is
// not a hex digit: a loose reading would turn " 0", "-0" or "0G" into 00 and let a damaged
// record whose checksum still adds up through.
std::optional<std::uint8_t> parseHexByte(std::string_view line, std::size_t index);

// True when the record is NOT sound: no colon, a sum of count, address, type, data and checksum
// that is not 0 modulo 256, or no CR LF right after the checksum. The type is only summed, so a
// well-formed end record passes.
bool checkHexRecord(std::string_view line);

// True only for ":00000001FF" (either case) followed directly by CR LF.
bool isHexEofRecord(std::string_view line);

// Characters a record with this many data bytes takes, its CR LF included.
constexpr std::size_t hexRecordLength(std::uint8_t count) {
    return 2 * std::size_t{count} + 13;
}

}  // namespace zq
