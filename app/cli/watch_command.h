#pragma once

#include <string>

#include "app/cli/flash_command.h"
#include "serial/port_discovery.h"

namespace zq::cli {

struct CliContext;

// watch: a station that flashes every board as it appears, until a signal or `count` boards.
struct WatchRequest {
    // The options of flash. Its ports are the ones to probe for a board; none: the USB serial
    // adapters and virtual boards that come and go are watched instead.
    GangRequest flash{.operation = Operation::Flash};
    std::string match;   // a wildcard a watched port must match; empty: any
    unsigned count = 0;  // stop once this many boards are done; 0: only a signal stops
};

// Whether a listed port is one watch takes: a USB serial adapter or a virtual board whose name,
// device path, by-id name, description or VID:PID matches `pattern` (any, when it is empty).
bool isWatched(const PortInfo& port, const std::string& pattern);

// Returns the exit status: 0 when every board succeeded (or none came), 128 + n when signal n cut
// a board short, otherwise the status of the first board, in the order they appeared, that
// failed.
int runWatch(const WatchRequest& request, CliContext& context);

}  // namespace zq::cli
