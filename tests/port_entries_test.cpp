// The port list of both windows: the four fixed entries first, then what the system has.
#include <gtest/gtest.h>

#include "app/ports/port_entries.h"
#include "app/ports/port_list.h"

namespace {

using zq::PortEntry;
using zq::PortInfo;
using zq::PortList;
using zq::PortNaming;

PortInfo ftdi() {
    PortInfo port;
    port.systemName = "ttyUSB0";
    port.devicePath = "/dev/ttyUSB0";
    port.stableName = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A6008isP-if00-port0";
    port.description = "FT232R USB UART";
    port.vendorId = 0x0403;
    port.productId = 0x6001;
    port.serialNumber = "A6008isP";
    port.bus = PortInfo::Bus::Usb;
    return port;
}

PortInfo com(const std::string& name, const std::string& description) {
    PortInfo port;
    port.systemName = name;
    port.devicePath = "\\\\.\\" + name;
    port.description = description;
    return port;
}

PortInfo tty(const std::string& name, const std::string& description = "") {
    PortInfo port;
    port.systemName = name;
    port.devicePath = "/dev/" + name;
    port.description = description;
    return port;
}

std::vector<std::string> labels(const std::vector<PortEntry>& entries) {
    std::vector<std::string> out;
    for (const PortEntry& e : entries) {
        out.push_back(e.label);
    }
    return out;
}

TEST(PortEntries, LinuxPortsFollowTheFourWithWhatTellsThemApart) {
    const auto entries =
        zq::portEntries({tty("ttyS0", "16550A"), tty("ttyS4", "16550A"), ftdi(), tty("ttyACM0")},
                        PortNaming::Posix);
    // /dev/ttyS0 is COM1 and is not listed twice; an empty description leaves no gap.
    EXPECT_EQ(labels(entries),
              (std::vector<std::string>{"COM1", "COM2", "COM3", "COM4", "/dev/ttyS4  16550A",
                                        "/dev/ttyUSB0  FT232R USB UART  0403:6001  A6008isP",
                                        "/dev/ttyACM0"}));
    EXPECT_EQ(entries[5].portName, "/dev/ttyUSB0");
    EXPECT_EQ(entries[5].lastingName, ftdi().stableName);
    EXPECT_EQ(entries[6].lastingName, "/dev/ttyACM0");
}

TEST(PortEntries, WindowsPortsGoByTheirComNames) {
    const auto entries =
        zq::portEntries({com("COM1", "Communications Port"), com("COM3", "x"),
                         com("COM7", "USB Serial Port (FT232R)"), com("COM12", "Bluetooth link"),
                         com("com7", "the same port again")},
                        PortNaming::Windows);
    EXPECT_EQ(labels(entries), (std::vector<std::string>{"COM1", "COM2", "COM3", "COM4",
                                                         "COM7  USB Serial Port (FT232R)",
                                                         "COM12  Bluetooth link"}));
}

TEST(PortEntries, ARememberedChoiceIsFoundByEitherName) {
    const auto entries = zq::portEntries({ftdi()}, PortNaming::Posix);
    EXPECT_EQ(zq::findPortEntry(entries, "COM3"), 2u);
    EXPECT_EQ(zq::findPortEntry(entries, "/dev/ttyUSB0"), 4u);
    // The stable name finds the adapter after it came back under another number.
    PortInfo replugged = ftdi();
    replugged.devicePath = "/dev/ttyUSB1";
    const auto later = zq::portEntries({replugged}, PortNaming::Posix);
    EXPECT_EQ(zq::findPortEntry(later, ftdi().stableName), 4u);
    EXPECT_EQ(zq::findPortEntry(later, "/dev/ttyUSB0"), std::nullopt);
    EXPECT_EQ(zq::findPortEntry(later, ""), std::nullopt);
    // Windows names ignore case.
    const auto windows = zq::portEntries({com("COM7", "")}, PortNaming::Windows);
    EXPECT_EQ(zq::findPortEntry(windows, "com7"), 4u);
}

TEST(PortList, StartsOnTheRememberedPortWhenPresentAndOnComOneOtherwise) {
    PortList first(PortNaming::Posix);
    first.start({tty("ttyUSB0")}, "");
    EXPECT_EQ(first.chosenEntry().portName, "COM1");

    PortList again(PortNaming::Posix);
    again.start({ftdi(), tty("ttyACM0")}, ftdi().stableName);
    EXPECT_EQ(again.chosen(), 4u);
    EXPECT_EQ(again.chosenEntry().portName, "/dev/ttyUSB0");

    PortList com(PortNaming::Posix);
    com.start({}, "COM3");
    EXPECT_EQ(com.chosenEntry().portName, "COM3");

    // The adapter is not plugged in yet: COM1 until it comes, then the adapter.
    PortList later(PortNaming::Posix);
    later.start({}, ftdi().stableName);
    EXPECT_EQ(later.chosen(), 0u);
    EXPECT_TRUE(later.update({ftdi()}));
    EXPECT_EQ(later.chosenEntry().portName, "/dev/ttyUSB0");
}

TEST(PortList, PlugAndUnplugKeepAChoiceThatIsStillThere) {
    PortList list(PortNaming::Posix);
    list.start({tty("ttyACM0"), tty("ttyUSB3")}, "");
    list.choose(5);
    ASSERT_EQ(list.chosenEntry().portName, "/dev/ttyUSB3");

    // A port plugged in before it in the list moves it; the choice moves with it.
    EXPECT_TRUE(list.update({tty("ttyACM0"), ftdi(), tty("ttyUSB3")}));
    EXPECT_EQ(list.entries().size(), 7u);
    EXPECT_EQ(list.chosenEntry().portName, "/dev/ttyUSB3");
    // Another port unplugged: still the same choice.
    EXPECT_TRUE(list.update({ftdi(), tty("ttyUSB3")}));
    EXPECT_EQ(list.chosenEntry().portName, "/dev/ttyUSB3");
    // Nothing changed (udev speaks of other devices too): nothing for the window to redo.
    EXPECT_FALSE(list.update({ftdi(), tty("ttyUSB3")}));

    // The chosen port goes: COM1 stands in, and the port is chosen again when it comes back.
    EXPECT_TRUE(list.update({ftdi()}));
    EXPECT_EQ(list.chosen(), 0u);
    EXPECT_TRUE(list.update({ftdi(), tty("ttyUSB3")}));
    EXPECT_EQ(list.chosenEntry().portName, "/dev/ttyUSB3");

    // Once the user has picked another while it was away, its return changes nothing chosen.
    list.update({ftdi()});
    list.choose(2);
    list.update({ftdi(), tty("ttyUSB3")});
    EXPECT_EQ(list.chosenEntry().portName, "COM3");
}

TEST(PortList, AReplugUnderAnotherNumberKeepsTheChoiceByItsStableName) {
    PortList list(PortNaming::Posix);
    list.start({ftdi()}, "");
    list.choose(4);
    PortInfo replugged = ftdi();
    replugged.systemName = "ttyUSB1";
    replugged.devicePath = "/dev/ttyUSB1";
    list.update({});
    EXPECT_EQ(list.chosen(), 0u);
    list.update({replugged});
    EXPECT_EQ(list.chosenEntry().portName, "/dev/ttyUSB1");
    // A pick past the end (a list that changed under the window) changes nothing.
    list.choose(9);
    EXPECT_EQ(list.chosenEntry().portName, "/dev/ttyUSB1");
}

}  // namespace
