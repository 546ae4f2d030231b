#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "image/hex_image.h"

// The one Intel HEX reader. Its dialect is the only thing that differs between its callers.
namespace zq {

enum class HexDialect {
    // What the board's own tool takes: CR LF after every record, data records with 16-bit
    // addresses only, the end record exactly ":00000001FF". A later record overwrites an earlier
    // one where they overlap.
    BoardTool,
    // What the toolchains write and binutils reads: LF or CR LF (blank lines too), the last
    // record with or without its line end, extended segment (02) and linear (04) address records
    // honoured, start address records (03, 05) accepted and ignored, a UTF-8 byte-order mark in
    // front skipped. Bytes given twice must agree.
    Toolchain,
};

struct HexReading {
    // The bytes from address 0 to the highest one given; gaps read as zero.
    std::vector<std::uint8_t> bytes;
    HexFault fault = HexFault::None;
    std::size_t faultRecord = 0;     // 1 for the first record of the text
    std::uint64_t faultAddress = 0;  // for Overlap and AddressTooHigh: the first such byte
    std::size_t records = 0;         // records read, the end record included
    std::size_t dataBytes = 0;       // bytes the data records gave, overlaps counted once
    std::uint32_t lowest = 0;        // lowest and highest address given; valid with dataBytes
    std::uint32_t highest = 0;
    std::size_t addressLimit = 0;  // as given to readHex

    bool ok() const { return fault == HexFault::None; }
};

// Reads the records from the first character up to the end record; nothing after it is looked
// at. No byte is stored at or past `addressLimit`: such a record is refused before anything is
// allocated for it. On a fault the bytes are empty.
HexReading readHex(std::string_view text, HexDialect dialect, std::size_t addressLimit);

// The largest image a BoardTool text can describe: a full record at address FFFF.
inline constexpr std::size_t BoardToolAddressLimit = 0x10000 + 0xFF;

// The fault of a reading as a lower-case phrase to follow "record N: ", with the address where
// one belongs to it.
std::string describeHexReading(const HexReading& reading);

}  // namespace zq
