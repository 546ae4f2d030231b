#pragma once

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace zq::cli {

struct ComPortEntry {
    std::string name;  // COM1..COM4
    std::filesystem::path device;
    bool present = false;
    // The node exists but the kernel found no UART behind it, as it does for the legacy ports
    // of most PCs: opening it works, yet nothing is connected.
    bool noUart = false;
};

struct PortListing {
    std::vector<std::filesystem::path> devices;  // ttyS*, ttyUSB*, ttyACM*, in number order
    // serial/by-id names beside the device each one leads to (empty when it cannot be resolved).
    std::vector<std::pair<std::filesystem::path, std::filesystem::path>> byId;
    std::vector<ComPortEntry> comPorts;
};

// What serial devices exist under `devRoot` (normally /dev), with `sysRoot` (normally /sys)
// consulted for whether a ttyS node has hardware behind it.
PortListing listPorts(const std::filesystem::path& devRoot, const std::filesystem::path& sysRoot);

void printPortListing(const PortListing& listing, std::ostream& out);

}  // namespace zq::cli
