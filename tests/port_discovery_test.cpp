// Port discovery from what udev and Windows record of a device, who holds a port, and the
// low-latency switch a USB serial adapter gets while the program holds it.
#include <gtest/gtest.h>
#include <linux/serial.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "serial/port_discovery.h"
#include "serial/posix/low_latency.h"
#include "support/image_files.h"
#include "support/port_infos.h"

namespace zq {
// A failure shows the ports field by field.
void PrintTo(const PortInfo& p, std::ostream* out) {
    *out << p.devicePath << " [" << p.stableName << "] \"" << p.description << "\" \""
         << p.manufacturer << "\" " << vidPidText(p) << " " << p.serialNumber << " " << p.driver
         << " bus " << static_cast<int>(p.bus) << " at " << p.byPath;
}
}  // namespace zq

namespace zq::test {
namespace {

namespace fs = std::filesystem;

UdevRecord usbRecord(const std::string& node, std::map<std::string, std::string> extra) {
    UdevRecord r;
    r.properties = {
        {"SUBSYSTEM", "tty"},
        {"DEVNAME", "/dev/" + node},
        {"DEVPATH", "/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/" + node + "/tty/" + node},
        {"ID_BUS", "usb"},
    };
    r.properties.merge(extra);
    return r;
}

const std::string FtdiSocket = "/dev/serial/by-path/pci-0000:00:14.0-usb-0:4:1.0-port0";

// Property sets as `udevadm info` shows them for each kind of port.
std::vector<UdevRecord> recordedBench() {
    std::vector<UdevRecord> bench;
    bench.push_back(usbRecord(
        "ttyUSB0",
        {{"ID_VENDOR_ID", "0403"},
         {"ID_MODEL_ID", "6001"},
         {"ID_VENDOR", "FTDI"},
         {"ID_MODEL", "FT232R_USB_UART"},
         {"ID_MODEL_ENC", "FT232R\\x20USB\\x20UART"},
         {"ID_SERIAL_SHORT", "A50285BI"},
         {"ID_VENDOR_FROM_DATABASE", "Future Technology Devices International, Ltd"},
         {"ID_MODEL_FROM_DATABASE", "FT232 Serial (UART) IC"},
         {"ID_USB_DRIVER", "ftdi_sio"},
         {"DEVLINKS", "/dev/gps0 /dev/serial/by-path/pci-0000:00:14.0-usbv2-0:4:1.0-port0 " +
                          usbAdapter().stableName + " " + FtdiSocket}}));
    // Without udevd the database adds nothing.
    bench.push_back(usbRecord("ttyUSB2", {{"ID_VENDOR_ID", "067b"},
                                          {"ID_MODEL_ID", "2303"},
                                          {"ID_VENDOR_ENC", "Prolific\\x20Technology\\x20Inc.  "},
                                          {"ID_MODEL", "USB-Serial_Controller"},
                                          {"ID_USB_DRIVER", "pl2303"}}));
    for (int n = 0; n < 4; ++n) {
        const std::string node = "ttyS" + std::to_string(n);
        // Only ttyS0 has a UART behind it; the rest are the serial core's placeholders.
        bench.push_back({{{"SUBSYSTEM", "tty"},
                          {"DEVNAME", "/dev/" + node},
                          {"DEVPATH", "/devices/platform/serial8250/tty/" + node}},
                         {{"type", n == 0 ? "4" : "0"}, {"driver", "serial8250"}}});
    }
    for (const std::string node : {"rfcomm0", "tty0", "ptmx", "console"}) {
        bench.push_back({{{"SUBSYSTEM", "tty"},
                          {"DEVNAME", "/dev/" + node},
                          {"DEVPATH", "/devices/virtual/tty/" + node}},
                         {}});
    }
    return bench;
}

TEST(PortDiscovery, RecordedUdevPropertiesGiveEveryRealPortWithItsMakerAndIds) {
    std::vector<PortInfo> ports;
    for (const UdevRecord& record : recordedBench()) {
        if (auto port = portFromUdev(record)) {
            ports.push_back(*port);
        }
    }
    sortPorts(ports);
    PortInfo rfcomm = ttyPort("rfcomm0", "Bluetooth serial link");
    rfcomm.bus = PortInfo::Bus::Bluetooth;
    // The database's names win, of the links the by-id one lasts and the by-path one every udev
    // makes names the socket; without the database the device's own string, padding cut, else
    // udev's copy with its spaces restored.
    PortInfo ftdi = usbAdapter(0);
    ftdi.byPath = FtdiSocket;
    ftdi.description = "FT232 Serial (UART) IC";
    ftdi.manufacturer = "Future Technology Devices International, Ltd";
    PortInfo pl2303 = usbAdapter(2, 0x067b, 0x2303, "");
    pl2303.stableName.clear();
    pl2303.description = "USB-Serial Controller";
    pl2303.manufacturer = "Prolific Technology Inc.";
    pl2303.driver = "pl2303";
    const std::vector<PortInfo> expected = {ttyPort("ttyS0", "Built-in serial port", "serial8250"),
                                            rfcomm, ftdi, pl2303};
    EXPECT_EQ(ports, expected);
}

TEST(PortDiscovery, WindowsInstanceIdsGiveBusIdsAndSerialNumbers) {
    struct Case {
        const char* id;
        std::string vidPid;
        std::string serial;
        PortInfo::Bus bus;
    };
    using Bus = PortInfo::Bus;
    for (const Case& c : {
             Case{"USB\\VID_0403&PID_6001\\A50285BI", "0403:6001", "A50285BI", Bus::Usb},
             Case{"FTDIBUS\\VID_0403+PID_6001+A50285BIA\\0000", "0403:6001", "A50285BIA", Bus::Usb},
             // An id the system made up, and a composite device's interface, carry no serial.
             Case{"USB\\VID_1A86&PID_7523\\5&2F3A1E4B&0&2", "1a86:7523", "", Bus::Usb},
             Case{"USB\\VID_2341&PID_0043&MI_00\\0000", "2341:0043", "", Bus::Usb},
             Case{"BTHENUM\\{00001101-0000-1000-8000-00805F9B34FB}_LOCALMFG&0002\\7&1", "", "",
                  Bus::Bluetooth},
             Case{"ACPI\\PNP0501\\1", "", "", Bus::Other},
         }) {
        PortInfo port;
        fillFromInstanceId(port, c.id);
        EXPECT_EQ(vidPidText(port), c.vidPid) << c.id;
        EXPECT_EQ(port.serialNumber, c.serial) << c.id;
        EXPECT_EQ(port.bus, c.bus) << c.id;
    }

    std::vector<PortInfo> com = {comPort("COM10"), comPort("COM2"), comPort("COM1")};
    sortPorts(com);
    EXPECT_EQ(com[0].systemName + com[1].systemName + com[2].systemName, "COM1COM2COM10");
}

// A fake /proc: one program holds the adapter through a descriptor, another holds something else.
TEST(PortUsers, FoundFromTheDescriptorsOfOtherProgramsWithoutOpeningThePort) {
    TempDir root;
    const fs::path proc = root / "proc";
    const fs::path device = root / "ttyUSB0";
    std::ofstream(device).put('\0');
    const auto process = [&](const char* pid, const char* name, const fs::path& target) {
        fs::create_directories(proc / pid / "fd");
        std::ofstream(proc / pid / "comm") << name << '\n';
        fs::create_symlink(target, proc / pid / "fd" / "3");
    };
    process("1234", "minicom", device);
    process("77", "bash", root / "elsewhere");
    fs::create_directories(proc / "self");
    const PortUsers users = findPortUsers(device.string(), proc.string());
    EXPECT_EQ(users.holders, std::vector<std::string>{"1234 (minicom)"});
    EXPECT_TRUE(users.complete);
    EXPECT_TRUE(findPortUsers((root / "ttyUSB1").string(), proc.string()).holders.empty());
}

// A driver with serial flags, as TIOCGSERIAL and TIOCSSERIAL see them.
struct FakeDriver {
    int flags = 0;
    int readError = 0;
    int writeError = 0;
    std::vector<int> written{};
    posix::SerialFlagsAccess access() {
        return {.read =
                    [this](int& out) {
                        out = flags;
                        return readError;
                    },
                .write =
                    [this](int in) {
                        if (writeError == 0) {
                            flags = in;
                            written.push_back(in);
                        }
                        return writeError;
                    }};
    }
};

TEST(LowLatency, SwitchedOnWhileHeldAndTheFlagsFoundPutBackEvenWhereTheDriverRefuses) {
    FakeDriver adapter{.flags = ASYNC_SKIP_TEST};
    const posix::LowLatency state = posix::switchOnLowLatency(adapter.access());
    EXPECT_TRUE(state.switchedOn);
    EXPECT_EQ(adapter.flags, ASYNC_SKIP_TEST | ASYNC_LOW_LATENCY);
    EXPECT_TRUE(posix::putBackLowLatency(adapter.access(), state));
    EXPECT_EQ(adapter.flags, ASYNC_SKIP_TEST);

    // Already on: nothing written, nothing owed.
    FakeDriver tuned{.flags = ASYNC_LOW_LATENCY};
    const posix::LowLatency kept = posix::switchOnLowLatency(tuned.access());
    EXPECT_FALSE(kept.switchedOn);
    EXPECT_TRUE(posix::putBackLowLatency(tuned.access(), kept));
    EXPECT_TRUE(tuned.written.empty());

    // A pty has no serial settings; a driver may refuse the change. The port is used anyway.
    for (const bool readRefused : {true, false}) {
        FakeDriver refusing{.readError = readRefused ? ENOTTY : 0, .writeError = EPERM};
        const posix::LowLatency refused = posix::switchOnLowLatency(refusing.access());
        EXPECT_FALSE(refused.switchedOn);
        EXPECT_NE(refused.note.find("small replies may come late"), std::string::npos);
        EXPECT_TRUE(posix::putBackLowLatency(refusing.access(), refused));
    }
}

}  // namespace
}  // namespace zq::test
