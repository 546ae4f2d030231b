#pragma once

#include <cstdint>
#include <span>

// Telling an image file's kind from its content, never from its name.
namespace zq {

// Whether the content, past any line ends before it, starts as an Intel HEX record does: with a
// colon. Such a file is read as HEX, and refused when it is not valid HEX.
bool startsLikeHexText(std::span<const std::uint8_t> head);

// Whether the bytes read as text rather than as machine code: nine in ten or more are printable
// ASCII, tab, CR or LF. Machine code for the board has about four in ten (random bytes have 37
// in 100), a source file, a listing or a map file nearly all.
bool looksLikeText(std::span<const std::uint8_t> bytes);

}  // namespace zq
