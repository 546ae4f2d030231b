// The port list of both windows: the four fixed entries first, then what the system has.
#include <gtest/gtest.h>

#include "app/ports/port_entries.h"
#include "app/ports/port_list.h"
#include "support/port_infos.h"

namespace zq::test {
namespace {

std::vector<std::string> labels(const std::vector<PortEntry>& entries) {
    std::vector<std::string> out;
    for (const PortEntry& e : entries) {
        out.push_back(e.label);
    }
    return out;
}

TEST(PortEntries, LinuxPortsFollowTheFourWithWhatTellsThemApart) {
    const auto entries = portEntries(
        {ttyPort("ttyS0", "16550A"), ttyPort("ttyS4", "16550A"), usbAdapter(), ttyPort("ttyACM0")},
        PortNaming::Posix);
    // /dev/ttyS0 is COM1 and is not listed twice; an empty description leaves no gap.
    EXPECT_EQ(labels(entries),
              (std::vector<std::string>{"COM1", "COM2", "COM3", "COM4", "/dev/ttyS4  16550A",
                                        "/dev/ttyUSB0  FT232R USB UART  0403:6001  A50285BI",
                                        "/dev/ttyACM0"}));
    EXPECT_EQ(entries[5].portName, "/dev/ttyUSB0");
    EXPECT_EQ(entries[5].lastingName, usbAdapter().stableName);
    EXPECT_EQ(entries[6].lastingName, "/dev/ttyACM0");
    // A closed box shows what tells the ports apart: /dev/p... would be every pseudo-terminal.
    std::vector<std::string> shown;
    for (const PortEntry& e : portEntries({ttyPort("pts/2"), usbAdapter()}, PortNaming::Posix)) {
        shown.push_back(e.shortName);
    }
    EXPECT_EQ(shown, (std::vector<std::string>{"COM1", "COM2", "COM3", "COM4", "pts/2", "USB0"}));
    EXPECT_EQ(distinctPart("/tmp/boards/a", PortNaming::Posix), "a");
    EXPECT_EQ(distinctPart("\\\\.\\COM12", PortNaming::Windows), "\\\\.\\COM12");
}

TEST(PortEntries, WindowsPortsGoByTheirComNames) {
    const auto entries =
        portEntries({comPort("COM1", "Communications Port"), comPort("COM3", "x"),
                     comPort("COM7", "USB Serial Port (FT232R)"),
                     comPort("COM12", "Bluetooth link"), comPort("com7", "the same port again")},
                    PortNaming::Windows);
    EXPECT_EQ(labels(entries), (std::vector<std::string>{"COM1", "COM2", "COM3", "COM4",
                                                         "COM7  USB Serial Port (FT232R)",
                                                         "COM12  Bluetooth link"}));
}

TEST(PortEntries, ARememberedChoiceIsFoundByEitherName) {
    const auto entries = portEntries({usbAdapter()}, PortNaming::Posix);
    EXPECT_EQ(findPortEntry(entries, "COM3"), 2u);
    EXPECT_EQ(findPortEntry(entries, "/dev/ttyUSB0"), 4u);
    // The stable name finds the adapter after it came back under another number.
    const auto later = portEntries({usbAdapter(1)}, PortNaming::Posix);
    EXPECT_EQ(findPortEntry(later, usbAdapter().stableName), 4u);
    EXPECT_EQ(findPortEntry(later, "/dev/ttyUSB0"), std::nullopt);
    EXPECT_EQ(findPortEntry(later, ""), std::nullopt);
    // Windows names ignore case.
    EXPECT_EQ(findPortEntry(portEntries({comPort("COM7")}, PortNaming::Windows), "com7"), 4u);
}

// The remembered adapter is not plugged in yet: COM1 until it comes, then the adapter.
TEST(PortList, StartsOnComOneUntilTheRememberedPortComes) {
    PortList later(PortNaming::Posix);
    later.start({}, usbAdapter().stableName);
    EXPECT_EQ(later.chosen(), 0u);
    EXPECT_TRUE(later.update({usbAdapter()}));
    EXPECT_EQ(later.chosenEntry().portName, "/dev/ttyUSB0");
}

TEST(PortList, PlugAndUnplugKeepAChoiceThatIsStillThere) {
    PortList list(PortNaming::Posix);
    list.start({ttyPort("ttyACM0"), ttyPort("ttyUSB3")}, "");
    list.choose(5);
    ASSERT_EQ(list.chosenEntry().portName, "/dev/ttyUSB3");

    // A port plugged in before it in the list moves it; the choice moves with it.
    EXPECT_TRUE(list.update({ttyPort("ttyACM0"), usbAdapter(), ttyPort("ttyUSB3")}));
    EXPECT_EQ(list.entries().size(), 7u);
    EXPECT_EQ(list.chosenEntry().portName, "/dev/ttyUSB3");
    // Another port unplugged: still the same choice.
    EXPECT_TRUE(list.update({usbAdapter(), ttyPort("ttyUSB3")}));
    EXPECT_EQ(list.chosenEntry().portName, "/dev/ttyUSB3");
    // Nothing changed (udev speaks of other devices too): nothing for the window to redo.
    EXPECT_FALSE(list.update({usbAdapter(), ttyPort("ttyUSB3")}));

    // The chosen port goes: it stays chosen, marked gone at the end of the list, and is itself
    // again when it comes back. COM1 never stands in: it may be a console or a modem.
    EXPECT_TRUE(list.update({usbAdapter()}));
    EXPECT_EQ(labels(list.entries()).back(), "/dev/ttyUSB3  (gone)");
    EXPECT_EQ(list.chosen(), 5u);
    EXPECT_TRUE(list.chosenEntry().gone);
    EXPECT_FALSE(list.update({usbAdapter()}));
    EXPECT_TRUE(list.update({usbAdapter(), ttyPort("ttyUSB3")}));
    EXPECT_EQ(list.chosenEntry().portName, "/dev/ttyUSB3");
    EXPECT_FALSE(list.chosenEntry().gone);

    // An adapter picked by the user comes back under another number: chosen by its stable name.
    // Another adapter that takes its device name meanwhile is not it.
    list.choose(4);
    list.update({usbAdapter(1, 0x0403, 0x6001, "OTHER")});
    list.choose(list.chosen());
    EXPECT_EQ(list.chosenEntry().portName, "/dev/ttyUSB0");
    EXPECT_TRUE(list.chosenEntry().gone);
    list.update({usbAdapter(0, 0x0403, 0x6001, "OTHER")});
    EXPECT_TRUE(list.chosenEntry().gone);
    list.update({usbAdapter(7)});
    EXPECT_EQ(list.chosenEntry().portName, "/dev/ttyUSB7");

    // Once the user has picked another while it was away, its return changes nothing chosen; a
    // pick past the end (a list that changed under the window) changes nothing either.
    list.update({});
    list.choose(2);
    list.choose(9);
    list.update({usbAdapter(7)});
    EXPECT_EQ(list.chosenEntry().portName, "COM3");
}

}  // namespace
}  // namespace zq::test
