#pragma once

#include <string>

#include "image/output_file.h"
#include "image/startup_directory.h"

namespace zq {

// Picks the first of "<start-up directory>/ZQ417Fw_Temp0" .. "...9" (with the platform's
// separator) that names nothing yet, and leaves it in `name`. False when all ten exist, or when
// no start-up directory was recorded: the names would then land in the root directory.
bool findFreeTempName(const StartupDirectory& startup, std::string& name);

// Creates the first of those names that is free at the moment of creation, exclusively: a name
// that something (a link included) takes between the look and the create is passed over, never
// written through. NameTaken when all ten are taken or no start-up directory was recorded;
// Failed (with the name in `name`) when the system refused to create a free one.
SystemFile::Created createFreeTempFile(const StartupDirectory& startup, OutputFile& out,
                                       std::string& name);

}  // namespace zq
