#include "serial/port_fault_text.h"

#include <cstdio>
#include <system_error>

namespace zq {

std::string describeFault(const PortFault& fault) {
    const SystemError& e = fault.error;
    if (!fault) {
        return {};
    }
    std::string text = std::string(fault.call) + " failed";
    if (e) {
        text += ": " + e.text;
    }
    if (e.code != 0) {
        text += " (error " + std::to_string(e.code) + ")";
    }
    if (e.deviceGone) {
        text += "; the device has gone: unplugged, switched off, or the line hung up";
    }
    return text;
}

OpenFailureText explainOpenFailure(const OpenFailure& why, std::string_view devicePath,
                                   PortSystem system) {
    const std::string device(devicePath);
    const bool windows = system == PortSystem::Windows;
    // What the system said, where there is nothing better to advise. An error number is a POSIX
    // one, which Windows' own messages would misname.
    const std::string said = !why.detail.empty() ? why.detail
                             : why.code != 0 && !windows
                                 ? device + ": " + std::system_category().message(why.code)
                                 : device + ": the system refused to open it.";
    switch (why.kind) {
        case OpenFailure::Kind::None:
            return {"no failure", {}};
        case OpenFailure::Kind::PermissionDenied: {
            if (windows) {
                return {"permission denied", said};
            }
            // Joining a group helps only when that group may read and write the device;
            // otherwise only whoever administers the system can grant access.
            const std::string& group = why.group;
            if (group.empty()) {
                const std::string owner =
                    why.owner.empty() ? std::string() : " (" + why.owner + ")";
                return {"permission denied",
                        device + ": permission denied" + owner +
                            "; no group you could join grants access to it: an administrator "
                            "must grant it (for example with a udev rule), then try again."};
            }
            return {"permission denied", device +
                                             ": permission denied; add yourself to the "
                                             "group '" +
                                             group + "' (sudo usermod -aG " + group +
                                             " $USER), then log in again."};
        }
        case OpenFailure::Kind::Busy: {
            if (windows) {
                return {"in use by another program",
                        device +
                            ": the port is held by another program (a port has one user at a "
                            "time); close that program and try again."};
            }
            if (why.holders.empty()) {
                return {"in use by another program",
                        device + ": the port is held by another program; close that program " +
                            "(fuser -v " + device + " names it) and try again."};
            }
            std::string holders;
            for (const std::string& holder : why.holders) {
                holders += (holders.empty() ? "" : ", ") + holder;
            }
            return {"in use by another program", device + ": the port is held by " + holders +
                                                     "; close that program and try again."};
        }
        case OpenFailure::Kind::NoSuchDevice:
            return {"no such device",
                    windows ? device +
                                  ": no such port here; 'zq417-flash ports' lists the ports "
                                  "that are present."
                            : device +
                                  ": no such device here; 'zq417-flash ports' lists the "
                                  "serial ports that are present."};
        case OpenFailure::Kind::NotATerminal:
            return {"not a terminal",
                    windows ? said : device + ": not a terminal device, so not a serial port."};
        case OpenFailure::Kind::Other:
            break;
    }
    return {"failed", said};
}

std::string describeOpenFault(const OpenFailure& why) {
    std::string text(explainOpenFailure(why, {}).words);
    if (!why.detail.empty()) {
        text += " (" + why.detail + ")";
    }
    return text;
}

std::string hexBytes(std::span<const std::uint8_t> bytes) {
    std::string text;
    for (const std::uint8_t b : bytes) {
        char two[4];
        std::snprintf(two, sizeof two, "%s%02X", text.empty() ? "" : " ", static_cast<unsigned>(b));
        text += two;
    }
    return text;
}

}  // namespace zq
