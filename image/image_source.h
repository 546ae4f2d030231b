#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

#include "image/file_outcome.h"
#include "image/startup_directory.h"
#include "job/image_store.h"
#include "job/transfer_job.h"
#include "owner/owner_window.h"

namespace zq {

enum class ImageSourceFailure {
    None,
    LoadFailed,      // loadImageFile failed and has shown its box
    CannotReadHex,   // the HEX file itself could not be read
    InvalidHex,      // see outcome.hex
    NoTempName,      // no free temporary name in the start-up directory
    TempNotWritten,  // the converted image could not be written to tempName
};

struct ImageSource {
    ImageSourceFailure failure = ImageSourceFailure::None;
    FileOutcome outcome;  // what went wrong, with which file and what the system said
    std::string tempName;

    bool ok() const { return failure == ImageSourceFailure::None; }
};

// Whether a file is taken as Intel HEX text: its name ends in ".hex", in any case.
bool isHexFileName(const std::filesystem::path& fileName);

// Points the job at an image read from a file. A binary file is read by loadImageFile; a HEX file
// is first converted into a free temporary name in the start-up directory and loaded from there,
// and that temporary file is gone again on every path.
ImageSource loadImageSource(OwnerWindow& window, const std::filesystem::path& fileName,
                            const StartupDirectory& startup, TransferJob& job, ImageStore& store);

}  // namespace zq
