#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "image/file_outcome.h"

namespace zq {

// A HEX text of the largest image the board takes, every byte in a record of its own, is a
// fraction of this; the bound keeps a huge file from being read into memory at all.
inline constexpr std::uint64_t MaxHexTextLength = 4 * 1024 * 1024;

struct FileText {
    FileOutcome outcome;  // CannotOpen, CannotRead or TooLarge when not read
    std::string text;     // the whole content, byte for byte, when read

    bool ok() const { return outcome.ok(); }
};

// Reads a whole regular file, unless its size (from the open file's metadata) is above
// `maxLength`: it is then not read at all.
FileText readFileText(const std::filesystem::path& path,
                      std::uint64_t maxLength = MaxHexTextLength);

}  // namespace zq
