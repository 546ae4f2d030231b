#pragma once

#include <filesystem>

#include "image/image_store.h"
#include "serial/owner_window.h"
#include "transfer/transfer_job.h"

namespace zq {

// Reads a whole binary image file into a buffer of its own (one spare byte for the even-length
// pad) and points the job at it; the buffer a previous load left in `store` is released first.
// Failures are shown as error boxes owned by `window`. The job's imageLength is the file's size
// from the moment it is known, also when a later step fails; job.image is then absent.
bool loadImageFile(OwnerWindow& window, const std::filesystem::path& fileName, TransferJob& job,
                   ImageStore& store);

}  // namespace zq
