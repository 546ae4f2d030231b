#pragma once

#include <filesystem>
#include <string_view>

namespace zq {

// Writes the binary image of an Intel HEX text: byte n of the file is the byte at address n, gaps
// read as zero. On any fault in the text, or when the file cannot be written in full, the result
// is false and no output file is left (one that existed is gone, as it was truncated first).
bool convertHexToBin(std::string_view text, const std::filesystem::path& outFileName);

}  // namespace zq
