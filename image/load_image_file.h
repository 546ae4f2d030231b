#pragma once

#include <cstdint>
#include <filesystem>

#include "image/file_outcome.h"
#include "job/image_store.h"
#include "job/transfer_job.h"
#include "owner/owner_window.h"

namespace zq {

// No phase takes more than the job's capacity; a longer file is refused before it is read.
inline constexpr std::uint64_t MaxImageFileLength = ImageCapacity;

// Reads a whole binary image file into a buffer of its own (one spare byte for the even-length
// pad) and points the job at it; the buffer a previous load left in `store` is released first.
// Failures are shown as error boxes owned by `window`. The job's imageLength is the file's size
// (held at the largest 32-bit length) from the moment it is known, also when a later step fails;
// the job then has no image. A file longer than MaxImageFileLength fails with the too-long
// message from its size alone: nothing is allocated for it and nothing read. `outcome` says what
// went wrong beside the box.
bool loadImageFile(OwnerWindow& window, const std::filesystem::path& fileName, TransferJob& job,
                   ImageStore& store, FileOutcome& outcome);
bool loadImageFile(OwnerWindow& window, const std::filesystem::path& fileName, TransferJob& job,
                   ImageStore& store);

}  // namespace zq
