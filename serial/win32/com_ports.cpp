#include "job/win32/lean_windows.h"

#include <string>
#include <vector>

#include "serial/port_discovery.h"
#include "serial/port_names.h"

namespace zq {

std::vector<ComPortPresence> discoverComPorts(const std::string&, const std::string&) {
    std::vector<ComPortPresence> ports;
    for (unsigned long n = 1; n <= FixedComPorts; ++n) {
        ComPortPresence com;
        com.name = comName(n);
        com.device = devicePath(com.name);
        // Defined when the object manager knows where the name leads ("\Device\Serial0").
        char target[1024] = {};
        com.present = ::QueryDosDeviceA(com.name.c_str(), target, sizeof target) != 0;
        ports.push_back(std::move(com));
    }
    return ports;
}

}  // namespace zq
