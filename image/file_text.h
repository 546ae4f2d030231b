#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace zq {

// A HEX text of the largest image the board takes, every byte in a record of its own, is a
// fraction of this; the bound keeps a huge file from being read into memory at all.
inline constexpr std::uint64_t MaxHexTextLength = 4 * 1024 * 1024;

struct FileText {
    enum class Status { Read, CannotRead, TooLarge };
    Status status = Status::CannotRead;
    std::string text;  // the whole content, byte for byte, when read
};

// Reads a whole regular file, unless its size (from the open file's metadata) is above
// `maxLength`: it is then not read at all.
FileText readFileText(const std::filesystem::path& path,
                      std::uint64_t maxLength = MaxHexTextLength);

}  // namespace zq
