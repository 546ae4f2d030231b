#include "serial/win32/lean_windows.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "app/cli/system_support.h"
#include "serial/interruption.h"
#include "serial/win32/win32_platform.h"

namespace zq::cli {

namespace {

// The number of a "COMn" device name; zero for any other name.
unsigned long comNumber(std::string_view name) {
    if (name.size() < 4 || name.size() > 9 || !name.starts_with("COM")) {
        return 0;
    }
    unsigned long number = 0;
    for (const char c : name.substr(3)) {
        if (std::isdigit(static_cast<unsigned char>(c)) == 0) {
            return 0;
        }
        number = number * 10 + static_cast<unsigned long>(c - '0');
    }
    return number;
}

// Every DOS device name the system knows, as QueryDosDeviceA lists them: names separated by
// NULs, the list ending in two. The list has no size limit of its own, so the buffer grows until
// it fits.
std::vector<std::string> dosDeviceNames() {
    std::vector<char> buffer(16 * 1024);
    for (;;) {
        const DWORD length =
            ::QueryDosDeviceA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length != 0) {
            std::vector<std::string> names;
            for (const char* p = buffer.data(); p < buffer.data() + length && *p != '\0';
                 p += std::strlen(p) + 1) {
                names.emplace_back(p);
            }
            return names;
        }
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || buffer.size() >= 4 * 1024 * 1024) {
            return {};
        }
        buffer.resize(buffer.size() * 4);
    }
}

// The kernel device a DOS name leads to ("\Device\Serial0"); empty when the name is not defined.
std::string dosDeviceTarget(const std::string& name) {
    char target[1024] = {};
    if (::QueryDosDeviceA(name.c_str(), target, sizeof target) == 0) {
        return {};
    }
    return target;
}

// Set once the transfer has handed the port back; a console-close handler waits for it.
std::atomic<HANDLE> handedBack{nullptr};

// The numbers a POSIX shell would report for the same events: Ctrl+C is SIGINT, Ctrl+Break is
// SIGBREAK, and the console going away is a hang-up.
constexpr int SigInt = 2;
constexpr int SigBreak = 21;
constexpr int SigHup = 1;

BOOL WINAPI onConsoleEvent(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
            interruption::raise(SigInt);
            return TRUE;
        case CTRL_BREAK_EVENT:
            interruption::raise(SigBreak);
            return TRUE;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            interruption::raise(SigHup);
            // Windows ends the process when this returns: hold it until the port is handed
            // back (the system itself gives up on us after a few seconds).
            if (const HANDLE done = handedBack.load()) {
                ::WaitForSingleObject(done, 10000);
            }
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

void installInterruptHandlers() {
    armWin32Interruption();
    handedBack.store(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

void markPortHandedBack() {
    if (const HANDLE done = handedBack.load()) {
        ::SetEvent(done);
    }
}

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
    return "COM1..COM4, or any port by its device name such as \\\\.\\COM10";
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

void printPorts(const CliContext& context) {
    std::vector<std::pair<unsigned long, std::string>> ports;
    for (std::string& name : dosDeviceNames()) {
        if (const unsigned long number = comNumber(name); number != 0) {
            ports.emplace_back(number, std::move(name));
        }
    }
    std::sort(ports.begin(), ports.end());

    std::ostream& out = context.out;
    out << "Serial ports:\n";
    if (ports.empty()) {
        out << "  none found\n";
    }
    for (const auto& [number, name] : ports) {
        const std::string target = dosDeviceTarget(name);
        out << "  " << name << "  " << (target.empty() ? std::string("(unresolved)") : target)
            << '\n';
    }
    out << "COM ports:\n";
    for (int n = 1; n <= 4; ++n) {
        const std::string name = "COM" + std::to_string(n);
        out << "  " << name << "  " << win32DevicePath(name) << "  "
            << (dosDeviceTarget(name).empty() ? "absent" : "present") << '\n';
    }
}

}  // namespace zq::cli
