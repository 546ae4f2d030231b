#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace zq {

// The whole content of a regular file, byte for byte; nothing when it cannot be read in full.
std::optional<std::string> readFileText(const std::filesystem::path& path);

}  // namespace zq
