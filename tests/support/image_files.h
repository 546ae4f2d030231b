#pragma once

#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numeric>
#include <string>
#include <vector>

#include "image/boot_header.h"

namespace zq::test {

// A directory of its own under the system's temporary directory, removed with everything in it.
struct TempDir {
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "zq417-image-XXXXXX").string();
        path = ::mkdtemp(pattern.data());
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::filesystem::path operator/(const std::string& name) const { return path / name; }
    std::vector<std::string> names() const {
        std::vector<std::string> found;
        for (const auto& entry : std::filesystem::directory_iterator(path)) {
            found.push_back(entry.path().filename().string());
        }
        return found;
    }

    std::filesystem::path path;
};

// One Intel HEX record with its checksum and CR LF; `checksumError` is added to the checksum.
inline std::string hexRecord(std::uint16_t address, const std::vector<std::uint8_t>& data,
                             std::uint8_t type = 0x00, int checksumError = 0) {
    std::vector<std::uint8_t> fields{static_cast<std::uint8_t>(data.size()),
                                     static_cast<std::uint8_t>(address >> 8),
                                     static_cast<std::uint8_t>(address), type};
    fields.insert(fields.end(), data.begin(), data.end());
    fields.push_back(static_cast<std::uint8_t>(checksumError -
                                               std::accumulate(fields.begin(), fields.end(), 0)));
    std::string record = ":";
    for (const std::uint8_t f : fields) {
        record += {"0123456789ABCDEF"[f >> 4], "0123456789ABCDEF"[f & 0xF]};
    }
    return record + "\r\n";
}

inline std::vector<std::uint8_t> withBootHeader(std::vector<std::uint8_t> image) {
    image.insert(image.begin(), BootHeader.begin(), BootHeader.end());
    return image;
}

// `image` with `bytes` written over it from `at` on.
inline std::vector<std::uint8_t> with(std::vector<std::uint8_t> image, std::size_t at,
                                      const std::vector<std::uint8_t>& bytes) {
    std::copy(bytes.begin(), bytes.end(), image.begin() + static_cast<std::ptrdiff_t>(at));
    return image;
}

inline const std::string EndRecord = ":00000001FF\r\n";

inline std::vector<std::uint8_t> readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

inline void writeText(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

}  // namespace zq::test
