#include "app/explain/reason_text.h"

namespace zq {

// Windows names no groups and no fuser: what a user can do there.
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

}  // namespace zq
