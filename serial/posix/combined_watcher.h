#pragma once

#include <memory>
#include <vector>

#include "serial/port_discovery.h"

namespace zq {

// Several sources of plug events behind one descriptor, so that a front end waits on one: an
// epoll descriptor is readable while any of the sources' is. Null sources are left out; null
// when none is left.
std::unique_ptr<PortWatcher> combineWatchers(std::vector<std::unique_ptr<PortWatcher>> sources);

}  // namespace zq
