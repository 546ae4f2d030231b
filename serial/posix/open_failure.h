#pragma once

#include <string>
#include <string_view>

#include "serial/platform.h"

namespace zq::posix {

// Why opening `path` failed, from errno, with the group that owns the device when access was
// denied.
OpenFailure failureFor(int error, const std::string& path, std::string_view why = {});

}  // namespace zq::posix
