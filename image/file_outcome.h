#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>
#include <utility>

#include "image/hex_reader.h"
#include "image/image_sniff.h"
#include "job/system_error.h"

namespace zq {

// What went wrong with an image file read or an output file written.
enum class FileFault {
    None,
    CannotOpen,  // no regular file under the name could be opened for reading
    CannotRead,  // opened, but its size or its bytes could not be read
    TooLarge,    // more than `limit` bytes: refused from its size alone, unread
    NoMemory,    // no memory to hold it
    Empty,       // no image bytes: an empty file, or HEX without data
    NotHex,      // mostly printable text: neither Intel HEX nor machine code
    NotAnImage,  // a format a toolchain hands over that is no image; see `foreign`
    BrokenHex,   // starts as Intel HEX but is not; see `hex`
    NoTempName,  // no free temporary name to convert it into
    NotWritten,  // an output could not be created, written, put on the disk or in its place
};

// A file operation's outcome, made where the failure happened: the file it concerns (the image or
// the output) and the system call that failed with what the system said.
struct FileOutcome {
    FileFault fault = FileFault::None;
    std::filesystem::path file{};
    std::string_view call{};  // "open", "read", "write", ...; empty for a rule of our own
    SystemError error{};
    bool hexText = false;     // the file was taken as Intel HEX text, from its content
    std::uint64_t size = 0;   // TooLarge, NoMemory: the file's size
    std::uint64_t limit = 0;  // TooLarge: the limit it is over
    HexReading hex{};         // BrokenHex: the reading that failed (no bytes)
    ForeignFormat foreign = ForeignFormat::None;  // NotAnImage: what the file is

    bool ok() const { return fault == FileFault::None; }
};

inline FileOutcome fileFailure(FileFault fault, const std::filesystem::path& file,
                               std::string_view call = {}, SystemError error = {}) {
    return FileOutcome{.fault = fault, .file = file, .call = call, .error = std::move(error)};
}

}  // namespace zq
