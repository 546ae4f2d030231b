#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "app/cli/command_line.h"
#include "serial/port_discovery.h"

namespace zq::cli {

struct ListedPort {
    PortInfo port;
    PortUsers users;
};

// What `ports` shows: every port discovered, who holds it, and which of COM1..COM4 exist.
struct PortListing {
    std::vector<ListedPort> ports;
    std::vector<ComPortPresence> comPorts;
};

// As text, or as JSON for scripts.
void printPortListing(const PortListing& listing, std::ostream& out, bool json);

// The `ports` command: what the system's port discovery finds, as text or as JSON.
void printPorts(const CliContext& context, bool json);

}  // namespace zq::cli
