#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

#include "image/hex_reader.h"

// An image file as the command line takes it: its kind told by its content, HEX converted in
// memory, and everything that cannot be an image refused before anything is sent.
namespace zq {

enum class ImageFormat { Binary, IntelHex };

enum class ImageFileFault {
    None,
    CannotRead,     // missing, not a regular file, or not readable in full
    TooLarge,       // refused from its size alone, unread
    NoImageBytes,   // an empty file, or HEX without data
    InvalidHex,     // starts as HEX but is not; see hex
    LooksLikeText,  // mostly printable text: no machine code
};

// The largest HEX text taken: room for every byte of the largest image in records of one byte,
// several times over.
inline constexpr std::uint64_t HexTextLimit = 1024 * 1024;

struct ImageFile {
    ImageFileFault fault = ImageFileFault::None;
    ImageFormat format = ImageFormat::Binary;
    bool forced = false;  // implausible, taken as binary because it was asked for
    std::uint64_t fileSize = 0;
    std::uint64_t sizeLimit = 0;      // with TooLarge: the limit the size is over
    bool bootHeader = false;          // the content starts with the boot header
    std::vector<std::uint8_t> bytes;  // the image, from address 0 for HEX
    HexReading hex;                   // with IntelHex or InvalidHex: the reading

    bool ok() const { return fault == ImageFileFault::None; }
};

// Reads `path` as an image of at most `imageLimit` bytes. With `force`, a file that is neither
// valid HEX nor plausible machine code is taken as a binary image as it stands; nothing makes an
// empty or too large image acceptable.
ImageFile readImageFile(const std::filesystem::path& path, std::size_t imageLimit, bool force);

}  // namespace zq
