#include "app/ports/port_entries.h"

namespace zq {

namespace {

void append(std::string& label, const std::string& part) {
    if (!part.empty()) {
        label += "  ";
        label += part;
    }
}

PortEntry entryFor(const PortInfo& port, PortNaming naming) {
    PortEntry entry;
    entry.portName = openName(port, naming);
    entry.label = entry.portName;
    entry.shortName = distinctPart(entry.portName, naming);
    append(entry.label, port.description);
    // Windows puts the adapter's make in the description already.
    if (naming == PortNaming::Posix) {
        append(entry.label, vidPidText(port));
        append(entry.label, port.serialNumber);
    }
    entry.lastingName = port.stableName.empty() ? entry.portName : port.stableName;
    return entry;
}

}  // namespace

std::vector<PortEntry> portEntries(const std::vector<PortInfo>& present, PortNaming naming) {
    std::vector<PortEntry> entries;
    for (unsigned long n = 1; n <= FixedComPorts; ++n) {
        entries.push_back({comName(n), comName(n), comName(n), comName(n)});
    }
    for (const PortInfo& port : present) {
        if (isFixedPort(port, naming)) {
            continue;
        }
        PortEntry entry = entryFor(port, naming);
        if (entry.portName.empty() || findPortEntry(entries, entry.portName)) {
            continue;
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::optional<std::size_t> findPortEntry(const std::vector<PortEntry>& entries,
                                         std::string_view name) {
    if (name.empty()) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].portName == name || entries[i].lastingName == name) {
            return i;
        }
    }
    // A name remembered as Windows wrote it then.
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (windowsDeviceKey(entries[i].portName) == windowsDeviceKey(name)) {
            return i;
        }
    }
    return std::nullopt;
}

}  // namespace zq
