#pragma once

#include <string>

#include "image/file_outcome.h"

namespace zq {

// What went wrong with an image file or an output file, as one line naming the file and, where
// the system refused a call, what the system said.
std::string explainFileOutcome(const FileOutcome& outcome);

}  // namespace zq
