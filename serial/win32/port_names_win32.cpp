#include "serial/port_names.h"

namespace zq {

PortNaming nativePortNaming() {
    return PortNaming::Windows;
}

// A COM port has one name in the device namespace; "com7", "COM7" and "\\.\COM7" all reach it.
bool sameDevice(std::string_view a, std::string_view b) {
    return windowsDeviceKey(devicePath(a, PortNaming::Windows)) ==
           windowsDeviceKey(devicePath(b, PortNaming::Windows));
}

}  // namespace zq
