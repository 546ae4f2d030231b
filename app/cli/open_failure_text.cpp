#include "app/cli/open_failure_text.h"

#include <system_error>

#include "app/cli/safe_text.h"

namespace zq::cli {

std::string explainOpenFailure(const OpenFailure& why, std::string_view devicePath) {
    const std::string device(devicePath);
    switch (why.kind) {
        case OpenFailure::Kind::None:
            return {};
        case OpenFailure::Kind::PermissionDenied: {
            // Joining a group helps only when that group may read and write the device;
            // otherwise only whoever administers the system can grant access.
            const std::string& group = why.group;
            if (group.empty()) {
                const std::string owner =
                    why.owner.empty() ? std::string() : " (" + why.owner + ")";
                return device + ": permission denied" + owner +
                       "; no group you could join grants access to it: an administrator must "
                       "grant it (for example with a udev rule), then try again.";
            }
            return device + ": permission denied; add yourself to the group '" + group +
                   "' (sudo usermod -aG " + group + " $USER), then log in again.";
        }
        case OpenFailure::Kind::Busy: {
            if (why.holders.empty()) {
                return device + ": the port is held by another program; close that program " +
                       "(fuser -v " + device + " names it) and try again.";
            }
            std::string holders;
            for (const std::string& holder : why.holders) {
                holders += (holders.empty() ? "" : ", ") + holder;
            }
            return device + ": the port is held by " + printableName(holders) +
                   "; close that program and try again.";
        }
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
