#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "serial/port_discovery.h"

namespace zq::test {

// Ports as the system lists them: a tty of the machine's own, a Windows COM port, and an FTDI
// USB adapter with its /dev/serial/by-id name.
inline PortInfo ttyPort(const std::string& node, std::string description = "",
                        std::string driver = "") {
    PortInfo port;
    port.systemName = node;
    port.devicePath = "/dev/" + node;
    port.description = std::move(description);
    port.driver = std::move(driver);
    return port;
}

inline PortInfo comPort(const std::string& name, std::string description = "") {
    PortInfo port;
    port.systemName = name;
    port.devicePath = "\\\\.\\" + name;
    port.description = std::move(description);
    return port;
}

inline PortInfo usbAdapter(int n = 0, std::uint16_t vid = 0x0403, std::uint16_t pid = 0x6001,
                           std::string serial = "A50285BI") {
    PortInfo port = ttyPort("ttyUSB" + std::to_string(n), "FT232R USB UART", "ftdi_sio");
    port.stableName = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_" + serial + "-if00-port0";
    port.manufacturer = "FTDI";
    port.vendorId = vid;
    port.productId = pid;
    port.serialNumber = std::move(serial);
    port.bus = PortInfo::Bus::Usb;
    return port;
}

}  // namespace zq::test
