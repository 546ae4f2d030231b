#include <libudev.h>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <system_error>

#include "serial/port_discovery.h"
#include "serial/posix/combined_watcher.h"
#include "serial/virtual_boards.h"

namespace zq {

namespace {

namespace fs = std::filesystem;

struct UdevUnref {
    void operator()(udev* u) const { udev_unref(u); }
    void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
    void operator()(udev_device* d) const { udev_device_unref(d); }
    void operator()(udev_monitor* m) const { udev_monitor_unref(m); }
};
template <typename T>
using UdevPtr = std::unique_ptr<T, UdevUnref>;

std::string text(const char* value) {
    return value != nullptr ? std::string(value) : std::string();
}

void setIfMissing(std::map<std::string, std::string>& map, const std::string& key,
                  const std::string& value) {
    if (!value.empty() && map.find(key) == map.end()) {
        map.emplace(key, value);
    }
}

// Without udevd (a container, an early boot) the database has no ID_* properties and no links;
// the USB device's own sysfs attributes and /dev/serial/by-id still say the same.
void fillFromSysfs(udev_device* device, UdevRecord& record) {
    auto& p = record.properties;
    if (udev_device* usb =
            udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device")) {
        setIfMissing(p, "ID_BUS", "usb");
        setIfMissing(p, "ID_VENDOR_ID", text(udev_device_get_sysattr_value(usb, "idVendor")));
        setIfMissing(p, "ID_MODEL_ID", text(udev_device_get_sysattr_value(usb, "idProduct")));
        setIfMissing(p, "ID_SERIAL_SHORT", text(udev_device_get_sysattr_value(usb, "serial")));
        setIfMissing(p, "ID_MODEL_ENC", text(udev_device_get_sysattr_value(usb, "product")));
        setIfMissing(p, "ID_VENDOR_ENC", text(udev_device_get_sysattr_value(usb, "manufacturer")));
    }
    if (p.find("DEVLINKS") == p.end()) {
        const fs::path node = text(udev_device_get_devnode(device));
        std::string links;
        std::error_code ec;
        for (fs::directory_iterator it("/dev/serial/by-id", ec), end; !ec && it != end;
             it.increment(ec)) {
            std::error_code resolve;
            if (!node.empty() && fs::canonical(it->path(), resolve) == node && !resolve) {
                links += (links.empty() ? "" : " ") + it->path().string();
            }
        }
        setIfMissing(p, "DEVLINKS", links);
    }
}

UdevRecord recordOf(udev_device* device) {
    UdevRecord record;
    for (udev_list_entry* e = udev_device_get_properties_list_entry(device); e != nullptr;
         e = udev_list_entry_get_next(e)) {
        record.properties[text(udev_list_entry_get_name(e))] = text(udev_list_entry_get_value(e));
    }
    setIfMissing(record.properties, "DEVNAME", text(udev_device_get_devnode(device)));
    setIfMissing(record.properties, "SUBSYSTEM", text(udev_device_get_subsystem(device)));
    setIfMissing(record.properties, "DEVPATH", text(udev_device_get_devpath(device)));
    if (const char* type = udev_device_get_sysattr_value(device, "type")) {
        record.attributes["type"] = type;
    }
    if (udev_device* parent = udev_device_get_parent(device)) {
        record.attributes["driver"] = text(udev_device_get_driver(parent));
    }
    fillFromSysfs(device, record);
    return record;
}

class UdevWatcher final : public PortWatcher {
  public:
    UdevWatcher(UdevPtr<udev> context, UdevPtr<udev_monitor> monitor)
        : context_(std::move(context)), monitor_(std::move(monitor)) {}

    int eventDescriptor() const override { return udev_monitor_get_fd(monitor_.get()); }

    bool takeEvents() override {
        bool changed = false;
        // The monitor's socket does not block: this ends when the queue is empty.
        while (UdevPtr<udev_device> device{udev_monitor_receive_device(monitor_.get())}) {
            const std::string action = text(udev_device_get_action(device.get()));
            changed = changed || action == "add" || action == "remove";
        }
        return changed;
    }

  private:
    UdevPtr<udev> context_;
    UdevPtr<udev_monitor> monitor_;
};

std::vector<PortInfo> udevPorts() {
    std::vector<PortInfo> ports;
    const UdevPtr<udev> context{udev_new()};
    if (!context) {
        return ports;
    }
    const UdevPtr<udev_enumerate> scan{udev_enumerate_new(context.get())};
    if (!scan || udev_enumerate_add_match_subsystem(scan.get(), "tty") < 0 ||
        udev_enumerate_scan_devices(scan.get()) < 0) {
        return ports;
    }
    for (udev_list_entry* e = udev_enumerate_get_list_entry(scan.get()); e != nullptr;
         e = udev_list_entry_get_next(e)) {
        const UdevPtr<udev_device> device{
            udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(e))};
        if (!device) {
            continue;  // gone since the scan
        }
        if (std::optional<PortInfo> port = portFromUdev(recordOf(device.get()))) {
            ports.push_back(std::move(*port));
        }
    }
    sortPorts(ports);
    return ports;
}

std::unique_ptr<PortWatcher> udevWatcher() {
    UdevPtr<udev> context{udev_new()};
    if (!context) {
        return nullptr;
    }
    // Events from udevd, not the kernel's own: they come once the device node and its links are
    // in place, so a re-list at that moment finds them.
    UdevPtr<udev_monitor> monitor{udev_monitor_new_from_netlink(context.get(), "udev")};
    if (!monitor ||
        udev_monitor_filter_add_match_subsystem_devtype(monitor.get(), "tty", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor.get()) < 0) {
        return nullptr;
    }
    return std::make_unique<UdevWatcher>(std::move(context), std::move(monitor));
}

}  // namespace

// The real ports, then the simulator's boards: a board someone can pick up comes first.
std::vector<PortInfo> discoverPorts() {
    std::vector<PortInfo> ports = udevPorts();
    std::vector<PortInfo> boards;
    for (const VirtualBoard& board : announcedBoards()) {
        boards.push_back(portOf(board));
    }
    sortPorts(boards);
    ports.insert(ports.end(), boards.begin(), boards.end());
    return ports;
}

std::unique_ptr<PortWatcher> watchPorts() {
    std::vector<std::unique_ptr<PortWatcher>> sources;
    sources.push_back(udevWatcher());
    sources.push_back(watchVirtualBoards());
    return combineWatchers(std::move(sources));
}

}  // namespace zq
