// How a port name given by a person comes to the device opened, on each system, and when two
// names reach the same device.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "serial/port_names.h"
#include "support/image_files.h"
#include "support/port_infos.h"

namespace zq::test {
namespace {

namespace fs = std::filesystem;
using Form = NamedPort::Form;

const std::string ById = usbAdapter().stableName;

// An on-board port and a USB adapter, as each system lists them.
std::vector<PortInfo> bench(PortNaming naming) {
    PortInfo windowsAdapter = comPort("COM7");
    windowsAdapter.bus = PortInfo::Bus::Usb;
    return {ttyPort("ttyS0"), naming == PortNaming::Windows ? windowsAdapter : usbAdapter()};
}

TEST(PortNames, EachFormOfNameOpensItsDeviceOnEachSystem) {
    struct Case {
        std::string given;
        PortNaming naming;
        Form form;
        std::string opens;   // what the job is given
        std::string device;  // what the backend opens for it (for the name given, if none)
    };
    constexpr PortNaming Posix = PortNaming::Posix;
    constexpr PortNaming Windows = PortNaming::Windows;
    const std::string leaf = fs::path(ById).filename().string();
    for (const Case& c : {
             Case{"com2", Posix, Form::Com, "COM2", "/dev/ttyS1"},
             Case{"COM04", Posix, Form::Com, "COM4", "/dev/ttyS3"},
             Case{"COM5", Posix, Form::ComOutOfRange, "", "COM5"},
             Case{"COM0", Posix, Form::Unknown, "", "COM0"},
             Case{"pts/3", Posix, Form::Device, "pts/3", "pts/3"},
             Case{leaf, Posix, Form::ById, ById, ById},
             Case{"ttyUSB0", Posix, Form::Unknown, "", "ttyUSB0"},
             Case{"com7", Windows, Form::Com, "COM7", "\\\\.\\COM7"},
             Case{"COM256", Windows, Form::Com, "COM256", "\\\\.\\COM256"},
             Case{"COM1234567", Windows, Form::Unknown, "", "\\\\.\\COM1234567"},
             Case{"\\\\?\\COM3", Windows, Form::Device, "\\\\?\\COM3", "\\\\?\\COM3"},
             Case{"\\\\.\\", Windows, Form::Unknown, "", "\\\\.\\"},
             Case{leaf, Windows, Form::Unknown, "", "\\\\.\\" + leaf},
             // Windows opens an adapter by its COM name, Linux by its device.
             Case{"AUTO", Windows, Form::Auto, "COM7", "\\\\.\\COM7"},
             Case{"auto", Posix, Form::Auto, "/dev/ttyUSB0", "/dev/ttyUSB0"},
         }) {
        SCOPED_TRACE(c.given + (c.naming == Posix ? " on Linux" : " on Windows"));
        const NamedPort named = readPortName(c.given, c.naming, [&] { return bench(c.naming); });
        EXPECT_EQ(named.form, c.form);
        EXPECT_EQ(named.port, c.opens);
        EXPECT_EQ(devicePath(c.opens.empty() ? c.given : c.opens, c.naming), c.device);
    }
}

TEST(PortNames, TwoNamesAreOneDeviceWhenTheyReachTheSameCharacterDevice) {
    TempDir dir;
    const std::string link = (dir / "link").string();
    fs::create_symlink("/dev/null", link);
    const std::string linkToLink = (dir / "by-id").string();
    fs::create_symlink(link, linkToLink);
    // Paths that lead nowhere are compared as paths: the same file, however spelled.
    const std::string missing = (dir / "missing").string();
    struct Case {
        std::string a;
        std::string b;
        bool same;
    };
    for (const Case& c : {
             Case{link, "/dev/null", true},
             Case{linkToLink, "/dev/null", true},
             Case{fs::relative("/dev/null").string(), "/dev/null", true},
             Case{"COM1", "/dev/ttyS0", true},
             Case{"com3", "COM3", true},
             Case{missing, (dir / "sub" / ".." / "missing").string(), true},
             Case{link, "/dev/zero", false},
             Case{"COM1", "COM2", false},
             Case{missing, "/dev/null", false},
         }) {
        EXPECT_EQ(sameDevice(c.a, c.b), c.same) << c.a << " and " << c.b;
    }
}

}  // namespace
}  // namespace zq::test
