#include "serial/port_names.h"

#include <algorithm>
#include <cctype>

namespace zq {

namespace {

std::string upperCase(std::string_view text) {
    std::string upper(text);
    std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) {
        return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    });
    return upper;
}

bool inDeviceNamespace(std::string_view name) {
    return name.starts_with("\\\\.\\") || name.starts_with("\\\\?\\");
}

// Only the four on-board ports have a COM name on Linux; Windows gives one to every port.
bool comNameExists(unsigned long number, PortNaming naming) {
    return naming == PortNaming::Windows || number <= FixedComPorts;
}

std::string_view leafName(std::string_view path) {
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

void readAuto(NamedPort& named, PortNaming naming,
              const std::function<std::vector<PortInfo>()>& listPorts) {
    named.form = NamedPort::Form::Auto;
    named.present = listPorts ? listPorts() : std::vector<PortInfo>{};
    named.candidates = automaticCandidates(named.present);
    if (named.candidates.size() == 1) {
        named.found = named.candidates.front();
        named.port = openName(*named.found, naming);
    }
}

// Udev keeps the by-id links in one directory, so the last part alone names the adapter.
void readById(NamedPort& named, std::string_view given,
              const std::function<std::vector<PortInfo>()>& listPorts) {
    for (const PortInfo& port : listPorts()) {
        if (port.stableName.starts_with(ByIdDirectory) && leafName(port.stableName) == given) {
            named.form = NamedPort::Form::ById;
            named.port = port.stableName;
            named.found = port;
            return;
        }
    }
}

}  // namespace

std::string comName(unsigned long number) {
    return "COM" + std::to_string(number);
}

unsigned long comNumber(std::string_view name) {
    const std::string upper = upperCase(name);
    if (upper.size() < 4 || upper.size() > 9 || !upper.starts_with("COM") ||
        !std::all_of(upper.begin() + 3, upper.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; })) {
        return 0;
    }
    return std::stoul(upper.substr(3));
}

bool isDevicePath(std::string_view name, PortNaming naming) {
    if (naming == PortNaming::Windows) {
        return name.size() > 4 && inDeviceNamespace(name);
    }
    return name.find('/') != std::string_view::npos;
}

std::string devicePath(std::string_view name, PortNaming naming) {
    if (naming == PortNaming::Windows) {
        return inDeviceNamespace(name) ? std::string(name) : "\\\\.\\" + std::string(name);
    }
    if (const unsigned long n = comNumber(name); n != 0 && comNameExists(n, naming)) {
        return "/dev/ttyS" + std::to_string(n - 1);
    }
    return std::string(name);
}

std::string distinctPart(std::string_view name, PortNaming naming) {
    if (naming == PortNaming::Windows || !isDevicePath(name, naming)) {
        return std::string(name);
    }
    constexpr std::string_view Devices = "/dev/";
    constexpr std::string_view Terminal = "tty";
    if (name.starts_with(Devices) && name.size() > Devices.size()) {
        // Every serial device is a tty: what follows tells them apart.
        std::string_view part = name.substr(Devices.size());
        if (part.starts_with(Terminal) && part.size() > Terminal.size()) {
            part.remove_prefix(Terminal.size());
        }
        return std::string(part);
    }
    const std::size_t slash = name.find_last_of('/');
    return slash + 1 < name.size() ? std::string(name.substr(slash + 1)) : std::string(name);
}

std::string openName(const PortInfo& port, PortNaming naming) {
    if (naming == PortNaming::Windows && !port.systemName.empty()) {
        return port.systemName;
    }
    return port.devicePath;
}

const std::string& shownName(const PortInfo& port) {
    return port.devicePath.empty() ? port.systemName : port.devicePath;
}

bool isFixedPort(const PortInfo& port, PortNaming naming) {
    for (unsigned long n = 1; n <= FixedComPorts; ++n) {
        if (naming == PortNaming::Windows ? comNumber(port.systemName) == n
                                          : port.devicePath == devicePath(comName(n), naming)) {
            return true;
        }
    }
    return false;
}

bool mayChooseAutomatically(const PortInfo& port) {
    return port.isUsb();
}

std::vector<PortInfo> automaticCandidates(const std::vector<PortInfo>& present) {
    std::vector<PortInfo> chosen;
    std::copy_if(present.begin(), present.end(), std::back_inserter(chosen),
                 mayChooseAutomatically);
    if (chosen.empty()) {
        std::copy_if(present.begin(), present.end(), std::back_inserter(chosen),
                     [](const PortInfo& port) { return port.isVirtual(); });
    }
    return chosen;
}

NamedPort readPortName(std::string_view given, PortNaming naming,
                       const std::function<std::vector<PortInfo>()>& listPorts) {
    NamedPort named;
    if (upperCase(given) == "AUTO") {
        readAuto(named, naming, listPorts);
    } else if (const unsigned long n = comNumber(given); n != 0) {
        named.form =
            comNameExists(n, naming) ? NamedPort::Form::Com : NamedPort::Form::ComOutOfRange;
        named.port = named.form == NamedPort::Form::Com ? comName(n) : std::string();
    } else if (isDevicePath(given, naming)) {
        named.form = NamedPort::Form::Device;
        named.port = std::string(given);
    } else if (naming == PortNaming::Posix && !given.empty() && listPorts) {
        readById(named, given, listPorts);
    }
    return named;
}

std::string windowsDeviceKey(std::string_view name) {
    return upperCase(inDeviceNamespace(name) ? name.substr(4) : name);
}

}  // namespace zq
