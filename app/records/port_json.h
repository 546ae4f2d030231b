#pragma once

#include <nlohmann/json.hpp>

#include "serial/port_discovery.h"

namespace zq {

// A port as `ports --json` lists it and as a record names its fixture: its names, its USB
// identity, its USB position and, for a virtual board, the simulator and which of its boards.
nlohmann::ordered_json portJson(const PortInfo& port);

}  // namespace zq
