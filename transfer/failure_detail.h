#pragma once

#include <string>

#include "transfer/outcome.h"

namespace zq {

// What the system said about the failure behind an operation's error box, for a window's detail
// text or trace: the port call that failed the operation, or why the port would not open. Empty
// when no call failed with a reason (a board that says nothing is no port call's fault).
std::string failureDetail(const Outcome& outcome);

// The same for the box of a close that failed.
std::string closeFailureDetail(const Outcome& outcome);

}  // namespace zq
