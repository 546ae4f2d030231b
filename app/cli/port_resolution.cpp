#include "app/cli/port_resolution.h"

#include <algorithm>
#include <cctype>

#include "app/cli/safe_text.h"

namespace zq::cli {

namespace {

std::string upperCase(std::string_view text) {
    std::string upper(text);
    std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) {
        return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    });
    return upper;
}

// The n of "COMn"; zero when the name is not of that form.
unsigned long comNumber(std::string_view name) {
    const std::string upper = upperCase(name);
    if (upper.size() < 4 || upper.size() > 9 || upper.rfind("COM", 0) != 0 ||
        !std::all_of(upper.begin() + 3, upper.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; })) {
        return 0;
    }
    return std::stoul(upper.substr(3));
}

bool isDevicePathFor(std::string_view name, PortNaming naming) {
    if (naming == PortNaming::Windows) {
        return name.size() > 4 && (name.starts_with("\\\\.\\") || name.starts_with("\\\\?\\"));
    }
    return name.find('/') != std::string_view::npos;
}

std::string adviceFor(std::string_view name, PortNaming naming) {
    if (naming == PortNaming::Windows) {
        return "not a port name; use COMn, a device name such as \\\\.\\COM10, or auto";
    }
    if (name.starts_with("tty")) {
        return "not a port name; did you mean /dev/" + printableName(name) + "?";
    }
    return "not a port name; use COM1..COM4, a device path such as /dev/ttyUSB0, a "
           "/dev/serial/by-id name, or auto";
}

std::string openName(const PortInfo& port, PortNaming naming) {
    return naming == PortNaming::Windows ? port.systemName : port.devicePath;
}

std::string listing(const std::vector<PortInfo>& ports) {
    std::string text;
    for (const PortInfo& port : ports) {
        text += "\n" + describePortLine(port);
    }
    return text;
}

PortChoice automatic(PortNaming naming, const PortLister& listPorts) {
    const std::vector<PortInfo> ports = listPorts ? listPorts() : std::vector<PortInfo>{};
    std::vector<PortInfo> adapters;
    std::copy_if(ports.begin(), ports.end(), std::back_inserter(adapters),
                 [](const PortInfo& p) { return p.isUsb(); });
    PortChoice choice;
    if (adapters.empty()) {
        choice.outcome = PortChoice::Outcome::NoAdapter;
        choice.message = "no USB serial adapter is present";
        choice.message += ports.empty() ? "; no serial port was found at all"
                                        : "; the serial ports here:" + listing(ports);
        return choice;
    }
    if (adapters.size() > 1) {
        choice.outcome = PortChoice::Outcome::SeveralAdapters;
        choice.message =
            std::to_string(adapters.size()) +
            " USB serial adapters are present; name one with --port:" + listing(adapters);
        return choice;
    }
    choice.outcome = PortChoice::Outcome::Chosen;
    choice.port = openName(adapters.front(), naming);
    choice.note = "auto is" + describePortLine(adapters.front()).substr(1);
    return choice;
}

}  // namespace

PortNaming thisSystemNaming() {
#ifdef _WIN32
    return PortNaming::Windows;
#else
    return PortNaming::Posix;
#endif
}

std::string describePortLine(const PortInfo& port) {
    std::string line =
        "  " + printableName(port.devicePath.empty() ? port.systemName : port.devicePath);
    const auto add = [&](const std::string& part) {
        if (!part.empty()) {
            line += "  " + printableName(part);
        }
    };
    add(port.description);
    add(port.manufacturer == port.description ? std::string() : port.manufacturer);
    add(vidPidText(port));
    add(port.serialNumber.empty() ? std::string() : "serial " + port.serialNumber);
    return line;
}

PortChoice resolvePort(std::string_view given, PortNaming naming, const PortLister& listPorts) {
    PortChoice choice;
    if (upperCase(given) == "AUTO") {
        return automatic(naming, listPorts);
    }
    if (const unsigned long n = comNumber(given); n != 0) {
        if (naming == PortNaming::Windows || n <= 4) {
            choice.outcome = PortChoice::Outcome::Chosen;
            choice.port = "COM" + std::to_string(n);
        } else {
            choice.message =
                "only COM1 to COM4 exist here (/dev/ttyS0 to /dev/ttyS3); name any other port by "
                "its device path, its /dev/serial/by-id name, or auto";
        }
        return choice;
    }
    if (isDevicePathFor(given, naming)) {
        choice.outcome = PortChoice::Outcome::Chosen;
        choice.port = std::string(given);
        return choice;
    }
    if (naming == PortNaming::Posix && !given.empty() && listPorts) {
        for (const PortInfo& port : listPorts()) {
            const auto slash = port.stableName.rfind('/');
            if (!port.stableName.empty() && port.stableName.substr(slash + 1) == given) {
                choice.outcome = PortChoice::Outcome::Chosen;
                choice.port = port.stableName;
                choice.note = printableName(given) + " is " + printableName(port.devicePath);
                return choice;
            }
        }
    }
    choice.message = adviceFor(given, naming);
    return choice;
}

}  // namespace zq::cli
