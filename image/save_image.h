#pragma once

#include <filesystem>

#include "image/file_outcome.h"
#include "job/transfer_job.h"

namespace zq {

// Writes the job's image as it is, with the BootHeader in front when asked for and the image
// does not already start with it. A save that does not complete leaves the file's name as it
// was, and `outcome` says why (NotWritten).
bool saveImageAsBin(const TransferJob& job, const std::filesystem::path& fileName, bool withHeader,
                    FileOutcome& outcome);
bool saveImageAsBin(const TransferJob& job, const std::filesystem::path& fileName, bool withHeader);

}  // namespace zq
