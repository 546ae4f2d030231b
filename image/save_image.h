#pragma once

#include <filesystem>

#include "transfer/transfer_job.h"

namespace zq {

// Writes the job's image as it is, with the BootHeader in front when asked for and the image
// does not already start with it. A write that does not complete leaves no file.
bool saveImageAsBin(const TransferJob& job, const std::filesystem::path& fileName, bool withHeader);

}  // namespace zq
