#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <span>

namespace zq {

// A binary file being written that exists afterwards only if it was written in full: whatever
// path ends without a successful commit() deletes it, so no half-written image is ever left
// behind for a later run to pick up.
class OutputFile {
  public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

    // Creates the file, or truncates it when it exists.
    bool create(const std::filesystem::path& path);
    bool write(std::span<const std::uint8_t> bytes);
    // Flushes and closes; the file is deleted when that fails.
    bool commit();

  private:
    void discard();

    std::filesystem::path path_;
    std::ofstream out_;
    bool open_ = false;
};

}  // namespace zq
