#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace zq {

// Why a text is not a HEX file the board's tool accepts.
enum class HexFault {
    None,
    NoEndRecord,      // the text ends before the end record
    NoColon,          // a record does not start with ':'
    CutShort,         // the text ends inside a record
    NotHexDigit,      // a character where a hex digit belongs
    BadEndRecord,     // count 00, but not ":00000001FF"
    UnsupportedType,  // anything but a data record (00) with a 16-bit address
    BadChecksum,      // the fields do not add up to 0 modulo 256
    NoLineEnd,        // the record is not followed directly by CR LF
    // Only in the toolchain dialect (see hex_reader.h):
    CountMismatch,     // the line holds more or fewer digits than its count says
    TrailingData,      // characters other than a line end after the checksum
    UnknownType,       // a record type other than 00 to 05
    BadAddressRecord,  // an address record (02 to 05) whose count is not its size
    Overlap,           // a byte given again with another value
    AddressTooHigh,    // data at or past the address limit
};

struct HexImage {
    // The bytes from address 0 to the end of the highest record; gaps read as zero.
    std::vector<std::uint8_t> bytes;
    HexFault fault = HexFault::None;
    std::size_t faultRecord = 0;  // 1 for the first record of the text

    bool ok() const { return fault == HexFault::None; }
};

// Reads the records from the first character up to the end record; nothing after it is looked at.
// Records may come in any address order, a later one overwriting an earlier one.
HexImage decodeHex(std::string_view text);

// One lower-case phrase for a fault, to follow "record N: ".
std::string_view describeHexFault(HexFault fault);

}  // namespace zq
