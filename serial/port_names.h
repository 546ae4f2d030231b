#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "serial/port_discovery.h"

// How ports are named, on every system, in one place: the windows, the command line and the
// backends all go through here.
namespace zq {

// Linux: COM1..COM4 are the first four on-board ports (/dev/ttyS0..3), anything with a slash is
// a device path, and a /dev/serial/by-id name may be given without its directory. Windows: every
// COMn exists, opened as \\.\COMn (which also reaches the ports past COM9), and a name in the
// device namespace (\\.\ or \\?\) is opened as it is.
enum class PortNaming { Posix, Windows };

// The naming of the system this program was built for.
PortNaming nativePortNaming();

// Where udev keeps the names that stay the same when an adapter is plugged in again.
inline constexpr std::string_view ByIdDirectory = "/dev/serial/by-id/";
// Where it keeps the names of the sockets: the same for any adapter plugged into that one.
inline constexpr std::string_view ByPathDirectory = "/dev/serial/by-path/";

// The ports every list offers first, whatever exists: COM1..COM4.
inline constexpr int FixedComPorts = 4;

// "COM7" for 7.
std::string comName(unsigned long number);

// The n of "COMn" in any case ("com7" too); zero when the name is not of that form.
unsigned long comNumber(std::string_view name);

// Whether the name gives a device of the system directly rather than as COMn.
bool isDevicePath(std::string_view name, PortNaming naming = nativePortNaming());

// The device a port name opens: "/dev/ttyS1" for COM2 on Linux, "\\.\COM12" for COM12 on
// Windows, a device path as it is.
std::string devicePath(std::string_view name, PortNaming naming = nativePortNaming());

// The part of a port name that tells it from the others, for a box too narrow for the whole: a
// device path without its /dev/tty or /dev/ (USB0, ACM1, pts/2), another path's last part; COMn
// and every Windows name as they are.
std::string distinctPart(std::string_view name, PortNaming naming = nativePortNaming());

// The name a job opens for a port the system lists.
std::string openName(const PortInfo& port, PortNaming naming = nativePortNaming());

// The name a list of ports shows for one: the device it opens, where known.
const std::string& shownName(const PortInfo& port);

// Whether a listed port is one of COM1..COM4, which every list has already.
bool isFixedPort(const PortInfo& port, PortNaming naming = nativePortNaming());

// Whether `--port auto` may take the port as a real one: only a USB serial adapter. An on-board
// port or a modem may be a console or something else that must not receive an image.
bool mayChooseAutomatically(const PortInfo& port);

// The ports `--port auto` chooses among: the USB serial adapters, or when none is present the
// virtual boards zq417-sim serves, so that trying the tool needs no hardware yet a real board is
// never passed over for a simulated one.
std::vector<PortInfo> automaticCandidates(const std::vector<PortInfo>& present);

// What a port name given by a person stands for, before anything is opened. The ports are
// listed only for the forms that need them (auto, and a by-id name without its directory).
struct NamedPort {
    enum class Form {
        Com,            // COMn that exists here: `port` is "COMn"
        ComOutOfRange,  // COMn past COM4 on Linux
        Device,         // a device path, kept as given
        ById,           // a by-id name without its directory: `port` is its full path
        Auto,           // "auto": `port` is the one adapter's, when there is exactly one
        Unknown,        // none of these
    };
    Form form = Form::Unknown;
    std::string port{};                  // what the job opens; empty when nothing was chosen
    std::optional<PortInfo> found{};     // ById and a chosen Auto: the port it stands for
    std::vector<PortInfo> present{};     // Auto: every port listed
    std::vector<PortInfo> candidates{};  // Auto: the ones it may choose
};
NamedPort readPortName(std::string_view given, PortNaming naming,
                       const std::function<std::vector<PortInfo>()>& listPorts);

// How Windows compares device names: without the namespace prefix, ignoring case.
std::string windowsDeviceKey(std::string_view name);

// Whether two port names reach one device, however each is written: on Linux the same
// character device (a symlink, a by-id name, a relative path, COM1 and /dev/ttyS0), else the
// same canonical path; on Windows the same COM name. Nothing is opened.
bool sameDevice(std::string_view a, std::string_view b);

}  // namespace zq
