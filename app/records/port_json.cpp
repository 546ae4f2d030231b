#include "app/records/port_json.h"

#include <cstdio>

#include "app/records/json_values.h"

namespace zq {

namespace {

std::string busName(PortInfo::Bus bus) {
    switch (bus) {
        case PortInfo::Bus::Usb:
            return "usb";
        case PortInfo::Bus::Bluetooth:
            return "bluetooth";
        case PortInfo::Bus::Virtual:
            return "virtual";
        case PortInfo::Bus::Other:
            break;
    }
    return "other";
}

nlohmann::ordered_json hex4(const std::optional<std::uint16_t>& id) {
    if (!id) {
        return nullptr;
    }
    char text[8];
    std::snprintf(text, sizeof text, "%04x", static_cast<unsigned>(*id));
    return text;
}

}  // namespace

nlohmann::ordered_json portJson(const PortInfo& port) {
    const bool virtualBoard = port.isVirtual();
    return {
        {"name", port.systemName},
        {"device", port.devicePath},
        {"stable_name", textOrNull(port.stableName)},
        {"description", textOrNull(port.description)},
        {"manufacturer", textOrNull(port.manufacturer)},
        {"vid", hex4(port.vendorId)},
        {"pid", hex4(port.productId)},
        {"serial_number", textOrNull(port.serialNumber)},
        {"bus", busName(port.bus)},
        {"board_mode", textOrNull(port.boardMode)},
        {"driver", textOrNull(port.driver)},
        {"by_path", textOrNull(port.byPath)},
        {"simulator_pid", virtualBoard && port.simulatorPid != 0
                              ? nlohmann::ordered_json(port.simulatorPid)
                              : nlohmann::ordered_json(nullptr)},
        {"board_index", virtualBoard ? orNull(port.boardIndex) : nlohmann::ordered_json(nullptr)},
    };
}

}  // namespace zq
