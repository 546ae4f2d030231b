#include <filesystem>
#include <fstream>
#include <system_error>

#include "serial/port_discovery.h"
#include "serial/port_names.h"

namespace zq {

namespace fs = std::filesystem;

namespace {

// The serial core reports the UART type it detected; 0 means none was found.
bool kernelFoundNoUart(const fs::path& sysRoot, const fs::path& node) {
    std::ifstream type(sysRoot / "class" / "tty" / node / "type");
    int value = -1;
    return type >> value && value == 0;
}

}  // namespace

std::vector<ComPortPresence> discoverComPorts(const std::string& devRoot,
                                              const std::string& sysRoot) {
    std::vector<ComPortPresence> ports;
    std::error_code ec;
    for (unsigned long n = 1; n <= FixedComPorts; ++n) {
        ComPortPresence com;
        com.name = comName(n);
        const fs::path node = fs::path(devicePath(com.name, PortNaming::Posix)).filename();
        com.device = (fs::path(devRoot) / node).string();
        com.present = fs::exists(fs::path(devRoot) / node, ec);
        com.noUart = com.present && kernelFoundNoUart(sysRoot, node);
        ports.push_back(std::move(com));
    }
    return ports;
}

}  // namespace zq
