#include "serial/port_fault_text.h"

#include <cstdio>

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

std::string describeOpenFault(const OpenFailure& why) {
    std::string text(describeOpenFailure(why.kind));
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
