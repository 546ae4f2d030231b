#pragma once

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "serial/port_discovery.h"

namespace zq::cli {

struct ComPortEntry {
    std::string name;    // COM1..COM4
    std::string device;  // what opening it reaches
    bool present = false;
    // The node exists but the kernel found no UART behind it, as it does for the legacy ports
    // of most PCs: opening it works, yet nothing is connected.
    bool noUart = false;
};

struct ListedPort {
    PortInfo port;
    PortUsers users;
};

// What `ports` shows: every port discovered, who holds it, and which of COM1..COM4 exist.
struct PortListing {
    std::vector<ListedPort> ports;
    std::vector<ComPortEntry> comPorts;
};

// COM1..COM4 as the Linux backend opens them: /dev/ttyS0..3 under `devRoot`, with `sysRoot`
// consulted for whether a UART is behind each.
std::vector<ComPortEntry> posixComPorts(const std::filesystem::path& devRoot,
                                        const std::filesystem::path& sysRoot);

// As text, or as JSON for scripts.
void printPortListing(const PortListing& listing, std::ostream& out, bool json);

}  // namespace zq::cli
