#pragma once

#include <filesystem>

#include "app/records/image_choice.h"
#include "image/file_outcome.h"

namespace zq {

// What a command that writes an image file came to: done, the image refused (nothing written),
// or the file operation that failed and why; the output's name keeps what it held on failure.
struct FileCommandResult {
    bool imageRefused = false;
    ImageRefusal refusal{};  // when the image was refused before it was read as one
    FileOutcome outcome{};   // otherwise: why it failed
    bool failed = false;

    bool ok() const { return !failed; }
};

// hex2bin: an Intel HEX file as the binary image the board gets (byte n at address n). A file
// known to be no image, or HEX that is broken, is an image refused.
FileCommandResult convertHexToBin(const std::filesystem::path& input,
                                  const std::filesystem::path& output);

// save-bin: the image chosen, written as a binary file, the boot header in front when asked.
FileCommandResult saveImage(const std::filesystem::path& output, bool withHeader,
                            const ImageChoice& image);

}  // namespace zq
