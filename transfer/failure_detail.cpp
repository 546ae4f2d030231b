#include "transfer/failure_detail.h"

#include "serial/port_fault_text.h"

namespace zq {

namespace {

std::string reasonOf(const PortFault& fault) {
    return fault.error ? describeFault(fault) : std::string();
}

}  // namespace

std::string failureDetail(const Outcome& outcome) {
    if (outcome.kind == OutcomeKind::PortNotOpened &&
        outcome.open.kind != OpenFailure::Kind::None) {
        return "open failed: " + describeOpenFault(outcome.open);
    }
    return reasonOf(outcome.fault);
}

std::string closeFailureDetail(const Outcome& outcome) {
    return reasonOf(outcome.closeFault);
}

}  // namespace zq
