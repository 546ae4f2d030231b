// clang-format off
#include "job/win32/lean_windows.h"
#include <setupapi.h>
#include <dbt.h>
// clang-format on

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "serial/port_discovery.h"
#include "serial/port_names.h"
#include "serial/win32/port_notifications.h"

namespace zq {

namespace {

// The COM port device interface (GUID_DEVINTERFACE_COMPORT); ntddser.h, which names it, needs
// kernel types a user program does not have.
constexpr GUID ComPortInterface{
    0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};

std::string registryString(HKEY key, const char* value) {
    char buffer[256] = {};
    DWORD type = 0;
    DWORD size = sizeof buffer - 1;
    if (::RegQueryValueExA(key, value, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ) {
        return {};
    }
    return buffer;
}

std::string deviceProperty(HDEVINFO set, SP_DEVINFO_DATA& info, DWORD property) {
    char buffer[512] = {};
    DWORD type = 0;
    if (!::SetupDiGetDeviceRegistryPropertyA(set, &info, property, &type,
                                             reinterpret_cast<BYTE*>(buffer), sizeof buffer - 1,
                                             nullptr) ||
        type != REG_SZ) {
        return {};
    }
    return buffer;
}

// Where the device is plugged, which stays with the socket whatever adapter is in it: the first
// of its location paths ("PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(4)"), else what its bus driver
// says of its place ("Port_#0004.Hub_#0001").
std::string locationOf(HDEVINFO set, SP_DEVINFO_DATA& info) {
    char paths[1024] = {};
    DWORD type = 0;
    // Two NULs short of the end, so the first string ends inside the buffer whatever came.
    if (::SetupDiGetDeviceRegistryPropertyA(set, &info, SPDRP_LOCATION_PATHS, &type,
                                            reinterpret_cast<BYTE*>(paths), sizeof paths - 2,
                                            nullptr) &&
        type == REG_MULTI_SZ && paths[0] != '\0') {
        return paths;
    }
    return deviceProperty(set, info, SPDRP_LOCATION_INFORMATION);
}

// The ports behind the COM port interface: USB adapters, on-board and card ports, Bluetooth.
void addInterfacePorts(std::vector<PortInfo>& ports) {
    const HDEVINFO set = ::SetupDiGetClassDevsA(&ComPortInterface, nullptr, nullptr,
                                                DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
        return;
    }
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    for (DWORD i = 0; ::SetupDiEnumDeviceInfo(set, i, &info); ++i) {
        PortInfo port;
        if (const HKEY key =
                ::SetupDiOpenDevRegKey(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
            key != INVALID_HANDLE_VALUE) {
            port.systemName = registryString(key, "PortName");
            ::RegCloseKey(key);
        }
        if (comNumber(port.systemName) == 0) {
            continue;  // LPT ports share the class on some systems
        }
        port.devicePath = devicePath(port.systemName);
        port.description = deviceProperty(set, info, SPDRP_FRIENDLYNAME);
        if (port.description.empty()) {
            port.description = deviceProperty(set, info, SPDRP_DEVICEDESC);
        }
        port.manufacturer = deviceProperty(set, info, SPDRP_MFG);
        port.driver = deviceProperty(set, info, SPDRP_SERVICE);
        port.byPath = locationOf(set, info);
        char id[512] = {};
        if (::SetupDiGetDeviceInstanceIdA(set, &info, id, sizeof id - 1, nullptr)) {
            fillFromInstanceId(port, id);
        }
        ports.push_back(std::move(port));
    }
    ::SetupDiDestroyDeviceInfoList(set);
}

// Ports the serial drivers announced without the interface (older drivers, virtual pairs, the
// ports Wine maps onto the host's devices).
void addDeviceMapPorts(std::vector<PortInfo>& ports) {
    HKEY map = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &map) !=
        ERROR_SUCCESS) {
        return;
    }
    for (DWORD i = 0;; ++i) {
        char value[256] = {};
        DWORD valueSize = sizeof value;
        char data[256] = {};
        DWORD dataSize = sizeof data - 1;
        DWORD type = 0;
        const LONG result = ::RegEnumValueA(map, i, value, &valueSize, nullptr, &type,
                                            reinterpret_cast<BYTE*>(data), &dataSize);
        if (result == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (result != ERROR_SUCCESS || type != REG_SZ || comNumber(data) == 0) {
            continue;
        }
        const std::string name = data;
        if (std::any_of(ports.begin(), ports.end(),
                        [&](const PortInfo& p) { return p.systemName == name; })) {
            continue;
        }
        PortInfo port;
        port.systemName = name;
        port.devicePath = devicePath(name);
        port.driver = value;  // the kernel device, such as \Device\Serial0
        ports.push_back(std::move(port));
    }
    ::RegCloseKey(map);
}

// Every COMn the object manager knows, whatever put it there (a symbolic link in Wine's
// dosdevices is one): the names QueryDosDeviceA lists, separated by NULs. The list has no size
// limit of its own, so the buffer grows until it fits.
void addDosDevicePorts(std::vector<PortInfo>& ports) {
    std::vector<char> buffer(16 * 1024);
    DWORD length = 0;
    while ((length = ::QueryDosDeviceA(nullptr, buffer.data(),
                                       static_cast<DWORD>(buffer.size()))) == 0) {
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || buffer.size() >= 4 * 1024 * 1024) {
            return;
        }
        buffer.resize(buffer.size() * 4);
    }
    for (const char* p = buffer.data(); p < buffer.data() + length && *p != '\0';
         p += std::strlen(p) + 1) {
        const std::string name = p;
        if (comNumber(name) == 0 || std::any_of(ports.begin(), ports.end(), [&](const PortInfo& q) {
                return q.systemName == name;
            })) {
            continue;
        }
        PortInfo port;
        port.systemName = name;
        port.devicePath = devicePath(name);
        ports.push_back(std::move(port));
    }
}

}  // namespace

// Windows keeps a COM number per adapter (by its serial number), so the system name already
// lasts across replugging; there is no other stable name to offer.
std::vector<PortInfo> discoverPorts() {
    std::vector<PortInfo> ports;
    addInterfacePorts(ports);
    addDeviceMapPorts(ports);
    addDosDevicePorts(ports);
    sortPorts(ports);
    return ports;
}

std::unique_ptr<PortWatcher> watchPorts() {
    return nullptr;
}

PortUsers findPortUsers(const std::string&, const std::string&, long) {
    // Finding out would mean opening the port, which changes its modem lines.
    return {};
}

HDEVNOTIFY registerPortNotifications(HWND window) {
    DEV_BROADCAST_DEVICEINTERFACE_A filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = ComPortInterface;
    return ::RegisterDeviceNotificationA(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

void unregisterPortNotifications(HDEVNOTIFY registration) {
    if (registration != nullptr) {
        ::UnregisterDeviceNotification(registration);
    }
}

bool portsMayHaveChanged(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_DEVICECHANGE) {
        return false;
    }
    if (wParam == DBT_DEVNODES_CHANGED) {
        return true;  // sent without details when any device comes or goes
    }
    if (wParam != DBT_DEVICEARRIVAL && wParam != DBT_DEVICEREMOVECOMPLETE) {
        return false;
    }
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
    return header != nullptr && (header->dbch_devicetype == DBT_DEVTYP_PORT ||
                                 header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE);
}

}  // namespace zq
