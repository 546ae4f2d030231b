// An arbitrary file offered as an image, with and without --force. Invariants: a usable image is
// never empty and never larger than the capacity; HEX is taken only when the reader took it;
// without force no text, and with or without it no broken HEX, is ever taken as a binary image.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "image/image_file.h"
#include "image/image_sniff.h"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t Limit = 8192;

const fs::path& inputPath() {
    static const fs::path path =
        fs::temp_directory_path() / ("zq417-image-fuzz-" + std::to_string(::getpid()) + ".bin");
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fs::path& path = inputPath();
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    const std::span<const std::uint8_t> content(data, size);
    for (const bool force : {false, true}) {
        const zq::ImageFile file = zq::readImageFile(path, Limit, force);
        if (file.fileSize != size) {
            __builtin_trap();
        }
        if (!file.ok()) {
            if (!file.bytes.empty()) {
                __builtin_trap();
            }
            continue;
        }
        if (file.bytes.empty() || file.bytes.size() > Limit) {
            __builtin_trap();
        }
        // A format known to be no image is never taken, --force or not.
        if (zq::foreignFormatOf(content.first(std::min<std::size_t>(size, 512))) !=
            zq::ForeignFormat::None) {
            __builtin_trap();
        }
        const bool hex = file.format == zq::ImageFormat::IntelHex;
        if (hex != (zq::startsLikeHexText(content) && file.hex.ok() && !file.forced)) {
            __builtin_trap();
        }
        if (!hex && (zq::startsLikeHexText(content) || (!force && zq::looksLikeText(content)))) {
            __builtin_trap();
        }
    }
    std::error_code error;
    fs::remove(path, error);
    return 0;
}
