#include "serial/port_discovery.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <sstream>
#include <tuple>

#include "serial/port_names.h"

namespace zq {

namespace {

using Properties = std::map<std::string, std::string>;

std::string valueOf(const Properties& map, const std::string& key) {
    const auto found = map.find(key);
    return found == map.end() ? std::string() : found->second;
}

// udev keeps the raw USB strings in the *_ENC properties with \xNN escapes; the plain ones
// have their spaces turned into underscores.
std::string decodeEscapes(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2])) != 0 &&
            std::isxdigit(static_cast<unsigned char>(text[i + 3])) != 0) {
            out += static_cast<char>(std::stoi(std::string(text.substr(i + 2, 2)), nullptr, 16));
            i += 3;
        } else {
            out += text[i];
        }
    }
    // Makers pad their strings with spaces.
    const auto first = out.find_first_not_of(' ');
    return first == std::string::npos ? std::string()
                                      : out.substr(first, out.find_last_not_of(' ') - first + 1);
}

// The database's name, else the device's own string, else udev's underscored copy of it.
std::string bestName(const Properties& p, const std::string& stem) {
    if (std::string name = valueOf(p, stem + "_FROM_DATABASE"); !name.empty()) {
        return name;
    }
    if (std::string name = decodeEscapes(valueOf(p, stem + "_ENC")); !name.empty()) {
        return name;
    }
    std::string name = valueOf(p, stem);
    std::replace(name.begin(), name.end(), '_', ' ');
    return name;
}

std::optional<std::uint16_t> hexId(const std::string& text) {
    if (text.empty() || text.size() > 4 || !std::all_of(text.begin(), text.end(), [](char c) {
            return std::isxdigit(static_cast<unsigned char>(c)) != 0;
        })) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(std::stoul(text, nullptr, 16));
}

std::string baseName(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Of a device's links, the first under `directory`. Under /dev/serial/by-id a link carries the
// adapter's maker, model and serial number, so it survives replugging into another socket; under
// by-path it names the socket, whichever adapter is in it. Newer udev adds a "-usbv2-" twin of
// each by-path link; the older form sorts first and is what every version makes.
std::string linkUnder(const std::string& devlinks, std::string_view directory) {
    std::istringstream links(devlinks);
    std::vector<std::string> found;
    for (std::string link; links >> link;) {
        if (link.starts_with(directory)) {
            found.push_back(link);
        }
    }
    std::sort(found.begin(), found.end());
    return found.empty() ? std::string() : found.front();
}

// Splits "ttyUSB12" into "ttyUSB" and 12; the built-in ttyS ports come first, as COM1 and COM2
// do on the window's list.
std::tuple<bool, std::string, unsigned long, std::string> sortKey(const PortInfo& port) {
    const std::string& name = port.systemName;
    std::size_t digits = name.size();
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(name[digits - 1])) != 0) {
        --digits;
    }
    const std::string tail = name.substr(digits);
    const unsigned long number = tail.empty() || tail.size() > 9 ? 0 : std::stoul(tail);
    const std::string family = name.substr(0, digits);
    return {family != "ttyS", family, number, name};
}

}  // namespace

std::string vidPidText(const PortInfo& port) {
    if (!port.vendorId || !port.productId) {
        return {};
    }
    char text[16];
    std::snprintf(text, sizeof text, "%04x:%04x", static_cast<unsigned>(*port.vendorId),
                  static_cast<unsigned>(*port.productId));
    return text;
}

void sortPorts(std::vector<PortInfo>& ports) {
    std::stable_sort(ports.begin(), ports.end(),
                     [](const PortInfo& a, const PortInfo& b) { return sortKey(a) < sortKey(b); });
}

std::optional<PortInfo> portFromUdev(const UdevRecord& record) {
    const Properties& p = record.properties;
    if (valueOf(p, "SUBSYSTEM") != "tty") {
        return std::nullopt;
    }
    const std::string devName = valueOf(p, "DEVNAME");
    const std::string name = baseName(devName);
    if (name.empty()) {
        return std::nullopt;
    }
    const std::string bus = valueOf(p, "ID_BUS");
    const bool bluetooth = bus == "bluetooth" || name.rfind("rfcomm", 0) == 0;
    // Consoles, pseudo-terminals and the like are virtual devices; a Bluetooth serial link is
    // one too, yet it is a port a person connects to.
    if (valueOf(p, "DEVPATH").find("/virtual/") != std::string::npos && !bluetooth) {
        return std::nullopt;
    }
    // The serial core creates ttyS nodes for legacy port addresses whether or not a UART
    // answers there; "type" 0 means none did, so opening it reaches nothing.
    if (valueOf(record.attributes, "type") == "0") {
        return std::nullopt;
    }

    PortInfo port;
    port.systemName = name;
    port.devicePath = devName;
    port.stableName = linkUnder(valueOf(p, "DEVLINKS"), ByIdDirectory);
    port.byPath = linkUnder(valueOf(p, "DEVLINKS"), ByPathDirectory);
    port.description = bestName(p, "ID_MODEL");
    port.manufacturer = bestName(p, "ID_VENDOR");
    port.driver = valueOf(p, "ID_USB_DRIVER");
    if (port.driver.empty()) {
        port.driver = valueOf(record.attributes, "driver");
    }
    if (bus == "usb") {
        port.bus = PortInfo::Bus::Usb;
        port.vendorId = hexId(valueOf(p, "ID_VENDOR_ID"));
        port.productId = hexId(valueOf(p, "ID_MODEL_ID"));
        port.serialNumber = valueOf(p, "ID_SERIAL_SHORT");
    } else if (bluetooth) {
        port.bus = PortInfo::Bus::Bluetooth;
        if (port.description.empty()) {
            port.description = "Bluetooth serial link";
        }
    } else if (port.description.empty() && name.rfind("ttyS", 0) == 0) {
        port.description = "Built-in serial port";
    }
    return port;
}

void fillFromInstanceId(PortInfo& port, std::string_view id) {
    std::string upper(id);
    std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) {
        return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    });
    const auto field = [&](std::string_view key) -> std::optional<std::uint16_t> {
        const auto at = upper.find(key);
        return at == std::string::npos ? std::nullopt : hexId(upper.substr(at + key.size(), 4));
    };
    if (upper.rfind("BTHENUM\\", 0) == 0) {
        port.bus = PortInfo::Bus::Bluetooth;
        return;
    }
    port.vendorId = field("VID_");
    port.productId = field("PID_");
    if (!port.vendorId) {
        return;
    }
    port.bus = PortInfo::Bus::Usb;
    const std::size_t firstSlash = id.find('\\');
    const std::size_t lastSlash = id.rfind('\\');
    if (upper.rfind("FTDIBUS\\", 0) == 0 && firstSlash != lastSlash) {
        // FTDI's own bus: VID_xxxx+PID_xxxx+<serial><port letter>\<index>
        const std::string_view middle = id.substr(firstSlash + 1, lastSlash - firstSlash - 1);
        const std::size_t plus = middle.rfind('+');
        if (plus != std::string_view::npos) {
            port.serialNumber = std::string(middle.substr(plus + 1));
        }
    } else if (upper.rfind("USB\\", 0) == 0 && firstSlash != lastSlash &&
               id.substr(firstSlash, lastSlash - firstSlash).find("MI_") ==
                   std::string_view::npos) {
        const std::string_view last = id.substr(lastSlash + 1);
        if (last.find('&') == std::string_view::npos) {
            port.serialNumber = std::string(last);
        }
    }
}

}  // namespace zq
