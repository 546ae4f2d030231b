#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "serial/port_discovery.h"
#include "serial/port_names.h"

namespace zq {

// One line of a window's port list.
struct PortEntry {
    std::string label;        // what the list shows
    std::string shortName;    // what a closed box shows: the part of the name that tells it apart
    std::string portName;     // what the job opens: "COM2", "COM7", "/dev/ttyUSB0"
    std::string lastingName;  // what a remembered choice keeps
    bool gone = false;        // chosen, then taken away: kept in the list, never opened
    bool operator==(const PortEntry&) const = default;
};

// COM1 to COM4 first, whatever exists, then every other port present in the order given, each
// with what tells it apart. A present port that is one of the four is not listed twice.
std::vector<PortEntry> portEntries(const std::vector<PortInfo>& present,
                                   PortNaming naming = nativePortNaming());

// The entry `name` names, by the name the job opens or the lasting one.
std::optional<std::size_t> findPortEntry(const std::vector<PortEntry>& entries,
                                         std::string_view name);

}  // namespace zq
