#include "app/ports/port_entries.h"

#include <cctype>

namespace zq {

namespace {

constexpr int FixedPorts = 4;

bool sameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

std::string fixedName(int index) {
    return "COM" + std::to_string(index + 1);
}

// Whether the port is one the four fixed entries already stand for.
bool isFixed(const PortInfo& port, PortNaming naming) {
    for (int i = 0; i < FixedPorts; ++i) {
        if (naming == PortNaming::Windows ? sameIgnoringCase(port.systemName, fixedName(i))
                                          : port.devicePath == "/dev/ttyS" + std::to_string(i)) {
            return true;
        }
    }
    return false;
}

void append(std::string& label, const std::string& part) {
    if (!part.empty()) {
        label += "  ";
        label += part;
    }
}

PortEntry entryFor(const PortInfo& port, PortNaming naming) {
    PortEntry entry;
    if (naming == PortNaming::Windows) {
        // The platform opens every COM name in the device namespace, COM10 and past included.
        entry.portName = port.systemName.empty() ? port.devicePath : port.systemName;
        entry.label = entry.portName;
        append(entry.label, port.description);
    } else {
        entry.portName = port.devicePath;
        entry.label = entry.portName;
        append(entry.label, port.description);
        append(entry.label, vidPidText(port));
        append(entry.label, port.serialNumber);
    }
    entry.lastingName = port.stableName.empty() ? entry.portName : port.stableName;
    return entry;
}

}  // namespace

std::vector<PortEntry> portEntries(const std::vector<PortInfo>& present, PortNaming naming) {
    std::vector<PortEntry> entries;
    for (int i = 0; i < FixedPorts; ++i) {
        entries.push_back({fixedName(i), fixedName(i), fixedName(i)});
    }
    for (const PortInfo& port : present) {
        if (isFixed(port, naming)) {
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
    // Windows names ignore case.
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (sameIgnoringCase(entries[i].portName, name)) {
            return i;
        }
    }
    return std::nullopt;
}

}  // namespace zq
