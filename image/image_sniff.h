#pragma once

#include <cstdint>
#include <span>
#include <string_view>

// Telling an image file's kind from its content, never from its name.
namespace zq {

// The text without the UTF-8 byte-order mark (EF BB BF) some editors put in front of it: the
// mark is no part of the text, so a HEX file saved with one is still read as HEX.
std::string_view withoutByteOrderMark(std::string_view text);
std::span<const std::uint8_t> withoutByteOrderMark(std::span<const std::uint8_t> bytes);

// Whether the content, past a byte-order mark and any line ends before it, starts as an Intel HEX
// record does: with a colon. Such a file is read as HEX, and refused when it is not valid HEX.
bool startsLikeHexText(std::span<const std::uint8_t> head);

// Files a toolchain hands over that are not images, each told by its first bytes: sent as they
// stand, their headers and symbols would reach the board as if they were code.
enum class ForeignFormat {
    None,
    Elf,        // 7F 'E' 'L' 'F': a linked or object file
    SRecord,    // Motorola S-records: "S0".."S9" and hex digits, as text
    Pe,         // "MZ" with "PE\0\0" where it points: a Windows executable or object
    MachO,      // a Mach-O file, 32 or 64 bit, either byte order, or a universal one
    ArArchive,  // "!<arch>\n": a static library
    Uf2,        // "UF2\n" and its second magic: blocks for a USB mass-storage loader
    Zip,        // "PK\3\4" (or an empty archive's "PK\5\6")
    Gzip,       // 1F 8B
};

// The foreign format the content starts as (past a byte-order mark and line ends for the text
// ones); None for anything else, images of either kind included.
ForeignFormat foreignFormatOf(std::span<const std::uint8_t> head);

// Whether the bytes read as text rather than as machine code: nine in ten or more are printable
// ASCII, tab, CR or LF. Machine code for the board has about four in ten (random bytes have 37
// in 100), a source file, a listing or a map file nearly all.
bool looksLikeText(std::span<const std::uint8_t> bytes);

}  // namespace zq
