#include "app/cli/open_failure_text.h"

#include <system_error>

namespace zq::cli {

std::string_view describeOpenFailure(OpenFailure::Kind kind) {
    switch (kind) {
        case OpenFailure::Kind::None:
            return "no failure";
        case OpenFailure::Kind::NoSuchDevice:
            return "no such device";
        case OpenFailure::Kind::PermissionDenied:
            return "permission denied";
        case OpenFailure::Kind::Busy:
            return "in use by another program";
        case OpenFailure::Kind::NotATerminal:
            return "not a terminal";
        case OpenFailure::Kind::Other:
            break;
    }
    return "failed";
}

std::string explainOpenFailure(const OpenFailure& why, std::string_view devicePath) {
    const std::string device(devicePath);
    switch (why.kind) {
        case OpenFailure::Kind::None:
            return {};
        case OpenFailure::Kind::PermissionDenied: {
            // Users fix a denied open by joining the group that owns the device.
            const std::string& group = why.group;
            if (group.empty()) {
                return device +
                       ": permission denied; ask for access to the device (on most systems, "
                       "membership of the group 'dialout'), then log in again.";
            }
            return device + ": permission denied; add yourself to the group '" + group +
                   "' (sudo usermod -aG " + group + " $USER), then log in again.";
        }
        case OpenFailure::Kind::Busy:
            return device + ": the port is held by another program; close that program (fuser -v " +
                   device + " names it) and try again.";
        case OpenFailure::Kind::NoSuchDevice:
            return device +
                   ": no such device here; 'zq417-flash ports' lists the serial ports "
                   "that are present.";
        case OpenFailure::Kind::NotATerminal:
            return device + ": not a terminal device, so not a serial port.";
        case OpenFailure::Kind::Other:
            break;
    }
    if (!why.detail.empty()) {
        return why.detail;
    }
    if (why.code != 0) {
        return device + ": " + std::system_category().message(why.code);
    }
    return device + ": the system refused to open it.";
}

}  // namespace zq::cli
