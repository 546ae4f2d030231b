#pragma once

#include <filesystem>
#include <string_view>

#include "image/file_outcome.h"
#include "image/output_file.h"

namespace zq {

// Writes the binary image of an Intel HEX text: byte n of the file is the byte at address n, gaps
// read as zero. On any fault in the text, or when the file cannot be written in full, the result
// is false and whatever `outFileName` named before is left as it was. `outcome` says which:
// BrokenHex (its file left empty, as only the caller knows where the text came from) or
// NotWritten.
bool convertHexToBin(std::string_view text, const std::filesystem::path& outFileName,
                     FileOutcome& outcome);
bool convertHexToBin(std::string_view text, const std::filesystem::path& outFileName);

// The same into an output already created; it is committed on success and discarded otherwise.
bool convertHexToBin(std::string_view text, OutputFile& out, FileOutcome& outcome);
bool convertHexToBin(std::string_view text, OutputFile& out);

}  // namespace zq
