// Port discovery from what udev and Windows record of a device, who holds a port, and the
// low-latency switch a USB serial adapter gets while the program holds it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/serial.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "serial/port_discovery.h"
#include "serial/posix/low_latency.h"
#include "serial/posix/posix_platform.h"
#include "support/image_files.h"

namespace zq::test {
namespace {

namespace fs = std::filesystem;

UdevRecord usbAdapter(const std::string& node, std::map<std::string, std::string> extra) {
    UdevRecord r;
    r.properties = {
        {"SUBSYSTEM", "tty"},
        {"DEVNAME", "/dev/" + node},
        {"DEVPATH", "/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/" + node + "/tty/" + node},
        {"ID_BUS", "usb"},
    };
    for (auto& [key, value] : extra) {
        r.properties[key] = value;
    }
    return r;
}

// Property sets as `udevadm info` shows them for each kind of port.
std::vector<UdevRecord> recordedBench() {
    std::vector<UdevRecord> bench;
    bench.push_back(usbAdapter(
        "ttyUSB3", {{"ID_VENDOR_ID", "10c4"},
                    {"ID_MODEL_ID", "ea60"},
                    {"ID_VENDOR", "Silicon_Labs"},
                    {"ID_MODEL", "CP2102_USB_to_UART_Bridge_Controller"},
                    {"ID_MODEL_ENC", "CP2102\\x20USB\\x20to\\x20UART\\x20Bridge\\x20Controller"},
                    {"ID_SERIAL_SHORT", "0001"},
                    {"ID_VENDOR_FROM_DATABASE", "Silicon Labs"},
                    {"ID_MODEL_FROM_DATABASE", "CP210x UART Bridge"},
                    {"ID_USB_DRIVER", "cp210x"},
                    {"DEVLINKS",
                     "/dev/serial/by-path/pci-0000:00:14.0-usb-0:4:1.0-port0 "
                     "/dev/serial/by-id/"
                     "usb-Silicon_Labs_CP2102_USB_to_UART_Bridge_Controller_0001-"
                     "if00-port0"}}));
    bench.push_back(usbAdapter(
        "ttyUSB0", {{"ID_VENDOR_ID", "0403"},
                    {"ID_MODEL_ID", "6001"},
                    {"ID_VENDOR", "FTDI"},
                    {"ID_MODEL", "FT232R_USB_UART"},
                    {"ID_MODEL_ENC", "FT232R\\x20USB\\x20UART"},
                    {"ID_SERIAL_SHORT", "A50285BI"},
                    {"ID_VENDOR_FROM_DATABASE", "Future Technology Devices International, Ltd"},
                    {"ID_USB_DRIVER", "ftdi_sio"},
                    {"DEVLINKS",
                     "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0 "
                     "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0"}}));
    bench.push_back(
        usbAdapter("ttyUSB1", {{"ID_VENDOR_ID", "1a86"},
                               {"ID_MODEL_ID", "7523"},
                               {"ID_VENDOR", "1a86"},
                               {"ID_MODEL", "USB_Serial"},
                               {"ID_VENDOR_FROM_DATABASE", "QinHeng Electronics"},
                               {"ID_MODEL_FROM_DATABASE", "CH340 serial converter"},
                               {"ID_USB_DRIVER", "ch341"},
                               {"DEVLINKS", "/dev/serial/by-id/usb-1a86_USB_Serial-if00-port0"}}));
    bench.push_back(usbAdapter(
        "ttyUSB2", {{"ID_VENDOR_ID", "067b"},
                    {"ID_MODEL_ID", "2303"},
                    {"ID_VENDOR", "Prolific_Technology_Inc."},
                    {"ID_MODEL", "USB-Serial_Controller"},
                    {"ID_VENDOR_FROM_DATABASE", "Prolific Technology, Inc."},
                    {"ID_MODEL_FROM_DATABASE", "PL2303 Serial Port / Mobile Phone Data Cable"},
                    {"ID_USB_DRIVER", "pl2303"}}));
    for (int n = 0; n < 4; ++n) {
        const std::string node = "ttyS" + std::to_string(n);
        // Only ttyS0 has a UART behind it; the rest are the serial core's placeholders.
        bench.push_back({{{"SUBSYSTEM", "tty"},
                          {"DEVNAME", "/dev/" + node},
                          {"DEVPATH", "/devices/platform/serial8250/tty/" + node}},
                         {{"type", n == 0 ? "4" : "0"}, {"driver", "serial8250"}}});
    }
    bench.push_back({{{"SUBSYSTEM", "tty"},
                      {"DEVNAME", "/dev/rfcomm0"},
                      {"DEVPATH", "/devices/virtual/tty/rfcomm0"}},
                     {}});
    for (const char* node : {"tty0", "ptmx", "console"}) {
        bench.push_back({{{"SUBSYSTEM", "tty"},
                          {"DEVNAME", std::string("/dev/") + node},
                          {"DEVPATH", std::string("/devices/virtual/tty/") + node}},
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
    std::vector<std::string> names;
    for (const PortInfo& p : ports) {
        names.push_back(p.systemName);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"ttyS0", "rfcomm0", "ttyUSB0", "ttyUSB1", "ttyUSB2",
                                               "ttyUSB3"}));
    ASSERT_EQ(ports.size(), 6u);

    const PortInfo& builtIn = ports[0];
    EXPECT_EQ(builtIn.devicePath, "/dev/ttyS0");
    EXPECT_FALSE(builtIn.isUsb());
    EXPECT_EQ(builtIn.driver, "serial8250");
    EXPECT_EQ(builtIn.description, "Built-in serial port");
    EXPECT_EQ(builtIn.lastingName(), "/dev/ttyS0");
    EXPECT_EQ(ports[1].bus, PortInfo::Bus::Bluetooth);
    EXPECT_TRUE(ports[1].serialNumber.empty() && !ports[1].vendorId);

    // The database's names win; without them the device's own string, spaces restored.
    const PortInfo& ftdi = ports[2];
    EXPECT_TRUE(ftdi.isUsb());
    EXPECT_EQ(vidPidText(ftdi), "0403:6001");
    EXPECT_EQ(ftdi.serialNumber, "A50285BI");
    EXPECT_EQ(ftdi.description, "FT232R USB UART");
    EXPECT_EQ(ftdi.manufacturer, "Future Technology Devices International, Ltd");
    EXPECT_EQ(ftdi.driver, "ftdi_sio");
    EXPECT_EQ(ftdi.stableName, "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
    EXPECT_EQ(ftdi.lastingName(), ftdi.stableName);

    const PortInfo& ch340 = ports[3];
    EXPECT_EQ(vidPidText(ch340), "1a86:7523");
    EXPECT_EQ(ch340.description, "CH340 serial converter");
    EXPECT_EQ(ch340.manufacturer, "QinHeng Electronics");
    EXPECT_TRUE(ch340.serialNumber.empty());

    const PortInfo& pl2303 = ports[4];
    EXPECT_EQ(vidPidText(pl2303), "067b:2303");
    EXPECT_EQ(pl2303.description, "PL2303 Serial Port / Mobile Phone Data Cable");
    EXPECT_TRUE(pl2303.stableName.empty());
    EXPECT_EQ(pl2303.lastingName(), "/dev/ttyUSB2");

    const PortInfo& cp210x = ports[5];
    EXPECT_EQ(vidPidText(cp210x), "10c4:ea60");
    EXPECT_EQ(cp210x.serialNumber, "0001");
    EXPECT_EQ(cp210x.description, "CP210x UART Bridge");
    EXPECT_EQ(cp210x.manufacturer, "Silicon Labs");

    // Without udevd the database adds nothing: the USB device's own strings still name it.
    UdevRecord bare = usbAdapter("ttyUSB7", {{"ID_VENDOR_ID", "0403"},
                                             {"ID_MODEL_ID", "6001"},
                                             {"ID_MODEL_ENC", "FT232R USB UART  "},
                                             {"ID_VENDOR_ENC", "FTDI"}});
    const auto plain = portFromUdev(bare);
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->description, "FT232R USB UART");
    EXPECT_EQ(plain->manufacturer, "FTDI");
}

TEST(PortDiscovery, WindowsInstanceIdsGiveBusIdsAndSerialNumbers) {
    const auto parsed = [](const char* id) {
        PortInfo port;
        fillFromInstanceId(port, id);
        return port;
    };
    const PortInfo usb = parsed("USB\\VID_0403&PID_6001\\A50285BI");
    EXPECT_EQ(vidPidText(usb), "0403:6001");
    EXPECT_EQ(usb.serialNumber, "A50285BI");
    const PortInfo ftdiBus = parsed("FTDIBUS\\VID_0403+PID_6001+A50285BIA\\0000");
    EXPECT_EQ(vidPidText(ftdiBus), "0403:6001");
    EXPECT_EQ(ftdiBus.serialNumber, "A50285BIA");
    // An id the system made up, and a composite device's interface, carry no serial.
    EXPECT_EQ(parsed("USB\\VID_1A86&PID_7523\\5&2F3A1E4B&0&2").serialNumber, "");
    EXPECT_TRUE(parsed("USB\\VID_1A86&PID_7523\\5&2F3A1E4B&0&2").isUsb());
    EXPECT_EQ(parsed("USB\\VID_2341&PID_0043&MI_00\\7&1A2B").serialNumber, "");
    EXPECT_EQ(parsed("BTHENUM\\{00001101-0000-1000-8000-00805F9B34FB}_LOCALMFG&0002\\7&1").bus,
              PortInfo::Bus::Bluetooth);
    const PortInfo acpi = parsed("ACPI\\PNP0501\\1");
    EXPECT_FALSE(acpi.isUsb());
    EXPECT_FALSE(acpi.vendorId);

    std::vector<PortInfo> com(3);
    com[0].systemName = "COM10";
    com[1].systemName = "COM2";
    com[2].systemName = "COM1";
    sortPorts(com);
    EXPECT_EQ(com[0].systemName + com[1].systemName + com[2].systemName, "COM1COM2COM10");
}

// A front end calls takeEvents when the descriptor fires, and also may call it spuriously: it must
// never block then.
TEST(PortWatcher, TakingEventsWhenNoneArePendingReturnsAtOnce) {
    const std::unique_ptr<PortWatcher> watcher = watchPorts();
    if (!watcher) {
        GTEST_SKIP() << "no udev here";
    }
    EXPECT_GE(watcher->eventDescriptor(), 0);
    EXPECT_FALSE(watcher->takeEvents());
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
    EXPECT_TRUE(users.known());
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
    EXPECT_EQ(state.note, "low-latency mode on");
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

TEST(LowLatency, APseudoTerminalOpensWithANoteThatItHasNoSuchMode) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    PosixPlatform platform;
    OpenFailure why;
    const auto device = platform.openSerial(::ptsname(master), why);
    ASSERT_TRUE(device);
    EXPECT_NE(device->openNotes().find("low-latency mode unavailable"), std::string::npos)
        << device->openNotes();
    EXPECT_EQ(device->queuedInput(), std::optional<std::size_t>(0));
    EXPECT_TRUE(device->close());
    ::close(master);
}

}  // namespace
}  // namespace zq::test
