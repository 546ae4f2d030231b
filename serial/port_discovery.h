#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zq {

// One serial port the system has, as a person picks it from a list.
struct PortInfo {
    // Virtual: a board zq417-sim serves on a pseudo-terminal and announces while it runs.
    enum class Bus { Other, Usb, Bluetooth, Virtual };

    std::string systemName;    // "ttyUSB0", "COM7"
    std::string devicePath;    // what opens it: "/dev/ttyUSB0", "\\.\COM7"
    std::string stableName;    // the same after replugging ("/dev/serial/by-id/..."); may be empty
    std::string description;   // the product, as its maker or the system names it
    std::string manufacturer;  // may be empty
    std::optional<std::uint16_t> vendorId;   // USB only
    std::optional<std::uint16_t> productId;  // USB only
    std::string serialNumber;                // USB only, when the adapter has one
    std::string driver;                      // "ftdi_sio", "serial8250", "FTDIBUS"; may be empty
    Bus bus = Bus::Other;
    std::string boardMode{};  // Virtual only: "download" or "update", as the simulator announced
    long simulatorPid = 0;    // Virtual only: the simulator, which holds the device itself
    std::optional<unsigned> boardIndex{};  // Virtual only: which of the simulator's boards
    // Where the adapter is plugged, which stays the same for whatever adapter is plugged there:
    // its /dev/serial/by-path name, or on Windows its location path; may be empty.
    std::string byPath{};

    bool isUsb() const { return bus == Bus::Usb; }
    bool isVirtual() const { return bus == Bus::Virtual; }
    // The name to keep in a saved choice: the stable one where the system has it.
    const std::string& lastingName() const { return stableName.empty() ? devicePath : stableName; }
    bool operator==(const PortInfo&) const = default;
};

// "0403:6001", or empty when either half is unknown.
std::string vidPidText(const PortInfo& port);

// Ports in the order a list shows them: by family, then by number, so that ttyS2 comes before
// ttyS10 and COM2 before COM10.
void sortPorts(std::vector<PortInfo>& ports);

// Every serial port present now, sorted; on Linux the boards zq417-sim serves follow the real
// ports. Never prints; an empty list when the system cannot be asked.
std::vector<PortInfo> discoverPorts();

// What udev knows of one tty device: its properties (DEVNAME, DEVLINKS, ID_VENDOR_ID, ...) and
// the sysfs attributes that tell real hardware from a placeholder ("type" of a serial-core port,
// "driver" of its parent device).
struct UdevRecord {
    std::map<std::string, std::string> properties;
    std::map<std::string, std::string> attributes;
};

// The port a tty device stands for; nothing for ttys that are no serial port (consoles, ptys)
// and for the placeholders the serial core creates without a UART behind them.
std::optional<PortInfo> portFromUdev(const UdevRecord& record);

// What a Windows device instance id ("USB\VID_0403&PID_6001\A50285BI",
// "FTDIBUS\VID_0403+PID_6001+A50285BIA\0000", "BTHENUM\...") says of the port: its bus, VID:PID
// and serial number. Ids the system made up (with '&' in their last part) carry no serial.
void fillFromInstanceId(PortInfo& port, std::string_view instanceId);

// One of COM1..COM4 as this system's backend opens it, and whether it is there.
struct ComPortPresence {
    std::string name;    // COM1..COM4
    std::string device;  // what opening it reaches
    bool present = false;
    // The node exists but the kernel found no UART behind it, as it does for the legacy ports
    // of most PCs: opening it works, yet nothing is connected.
    bool noUart = false;
};

// COM1..COM4 and whether each is there. Linux: /dev/ttyS0..3 under `devRoot`, with `sysRoot`
// consulted for whether a UART is behind each; Windows: the names the object manager knows (the
// roots are not used).
std::vector<ComPortPresence> discoverComPorts(const std::string& devRoot = "/dev",
                                              const std::string& sysRoot = "/sys");

// Tells a front end that ports may have come or gone, so that it lists them again.
//
// Linux: `eventDescriptor()` becomes readable on a plug or unplug, and when a virtual board comes
// or goes; hand it to the event loop (QSocketNotifier on it, Read) and call `takeEvents()` when it
// fires. Windows has no descriptor
// (-1): a window calls `registerPortNotifications` (serial/win32/port_notifications.h) and
// re-lists on the WM_DEVICECHANGE messages `portsMayHaveChanged` accepts.
class PortWatcher {
  public:
    virtual ~PortWatcher() = default;
    virtual int eventDescriptor() const = 0;
    // Reads every pending event without blocking; true when a port was added or removed.
    virtual bool takeEvents() = 0;
};

// Nothing where the system offers no such events (Windows; Linux without udev and without a
// directory for virtual boards).
std::unique_ptr<PortWatcher> watchPorts();

// Which programs hold a port open, as far as this process may look.
struct PortUsers {
    std::vector<std::string> holders;  // "1234 (minicom)"
    bool complete = false;             // false: some processes could not be looked at
    bool known() const { return !holders.empty() || complete; }
};

// Looks without opening the port, so nothing about it changes (opening a tty raises DTR). Linux
// scans `procRoot` (/proc) for descriptors that lead to the device; elsewhere nothing is known.
// The process `ignoredPid` (a virtual board's simulator) is not counted as a user.
PortUsers findPortUsers(const std::string& devicePath, const std::string& procRoot = "/proc",
                        long ignoredPid = 0);

}  // namespace zq
