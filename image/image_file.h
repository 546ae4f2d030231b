#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

#include "image/file_outcome.h"
#include "image/hex_reader.h"

// An image file as the command line takes it: its kind told by its content, HEX converted in
// memory, and everything that cannot be an image refused before anything is sent.
namespace zq {

enum class ImageFormat { Binary, IntelHex };

// The largest HEX text taken: room for every byte of the largest image in records of one byte,
// several times over.
inline constexpr std::uint64_t HexTextLimit = 1024 * 1024;

struct ImageFile {
    // CannotOpen, CannotRead, TooLarge, Empty, NotHex, NotAnImage or BrokenHex when it cannot be
    // used.
    FileOutcome outcome;
    ImageFormat format = ImageFormat::Binary;
    bool forced = false;  // implausible, taken as binary because it was asked for
    std::uint64_t fileSize = 0;
    bool bootHeader = false;          // the content starts with the boot header
    std::vector<std::uint8_t> bytes;  // the image, from address 0 for HEX
    HexReading hex;                   // for HEX text: the reading

    bool ok() const { return outcome.ok(); }
};

// Reads `path` as an image of at most `imageLimit` bytes. With `force`, a file that is neither
// HEX nor plausible machine code is taken as a binary image as it stands. Nothing makes an empty
// or too large image acceptable, nor broken HEX, nor a format known to be no image (an ELF file,
// S-records ...): sent as they stand, their text or headers would reach the board as code.
ImageFile readImageFile(const std::filesystem::path& path, std::size_t imageLimit, bool force);

}  // namespace zq
