#pragma once

#include <string>

#include "image/startup_directory.h"

namespace zq {

// Picks the first of "<start-up directory>/ZQ417Fw_Temp0" .. "...9" (with the platform's
// separator) that names nothing yet, and leaves it in `name`. False when all ten exist, or when
// no start-up directory was recorded: the names would then land in the root directory.
bool findFreeTempName(const StartupDirectory& startup, std::string& name);

}  // namespace zq
