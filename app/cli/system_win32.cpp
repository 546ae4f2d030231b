#include "serial/win32/lean_windows.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "app/cli/port_listing.h"
#include "app/cli/system_support.h"
#include "serial/win32/win32_platform.h"

namespace zq::cli {

namespace {

// The kernel device a DOS name leads to ("\Device\Serial0"); empty when the name is not defined.
std::string dosDeviceTarget(const std::string& name) {
    char target[1024] = {};
    if (::QueryDosDeviceA(name.c_str(), target, sizeof target) == 0) {
        return {};
    }
    return target;
}

}  // namespace

std::unique_ptr<Platform> makeSystemPlatform() {
    return std::make_unique<Win32Platform>();
}

bool standardErrorIsTerminal() {
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

std::string devicePathFor(std::string_view portName) {
    return win32DevicePath(portName);
}

bool isDevicePath(std::string_view name) {
    return name.size() > 4 && (name.starts_with("\\\\.\\") || name.starts_with("\\\\?\\"));
}

std::string portOptionHelp() {
    return "COMn, any port by its device name such as \\\\.\\COM10, or auto: the one USB "
           "serial adapter present. Default: %ZQ417_PORT%, else COM1";
}

std::string portNameAdvice(std::string_view) {
    return "not a port name; use COM1..COM4 or a device name such as \\\\.\\COM10";
}

std::string explainOpenFailureHere(const OpenFailure& why, std::string_view devicePath) {
    const std::string device(devicePath);
    switch (why.kind) {
        case OpenFailure::Kind::None:
            return {};
        case OpenFailure::Kind::Busy:
            return device +
                   ": the port is held by another program (a port has one user at a time); "
                   "close that program and try again.";
        case OpenFailure::Kind::NoSuchDevice:
            return device +
                   ": no such port here; 'zq417-flash ports' lists the ports that are present.";
        case OpenFailure::Kind::PermissionDenied:
        case OpenFailure::Kind::NotATerminal:
        case OpenFailure::Kind::Other:
            break;
    }
    if (!why.detail.empty()) {
        return why.detail;
    }
    return device + ": the system refused to open it.";
}

void printPorts(const CliContext& context, bool json) {
    PortListing listing;
    for (PortInfo& port : context.listPorts ? context.listPorts() : std::vector<PortInfo>{}) {
        listing.ports.push_back({std::move(port), PortUsers{}});
    }
    for (int n = 1; n <= 4; ++n) {
        ComPortEntry com;
        com.name = "COM" + std::to_string(n);
        com.device = win32DevicePath(com.name);
        com.present = !dosDeviceTarget(com.name).empty();
        listing.comPorts.push_back(std::move(com));
    }
    if (json) {
        printPortListingJson(listing, context.out);
    } else {
        printPortListing(listing, context.out);
    }
}

}  // namespace zq::cli
