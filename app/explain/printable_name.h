#pragma once

#include <string>
#include <string_view>

// File and port names are byte strings: the user's, the file system's, a device's. Written out
// as they are, bytes that are not UTF-8 make a JSON document invalid and control characters drive
// the terminal. Such a byte is written as the four characters \xNN (two lowercase hex digits).
namespace zq {

// The name with each byte that is not part of valid UTF-8 as \xNN.
std::string validUtf8(std::string_view name);

// For a terminal or a line of plain text: control characters (C0, DEL and C1) as \xNN too.
std::string printableName(std::string_view name);

}  // namespace zq
