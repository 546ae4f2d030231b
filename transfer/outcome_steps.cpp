#include "transfer/outcome_steps.h"

#include "serial/interruption.h"

namespace zq {

void enterStage(OwnerWindow& window, Outcome& outcome, OperationStage stage) {
    outcome.reached = stage;
    window.operationStage(stage);
}

void settle(Outcome& outcome, OutcomeKind kind, Step step) {
    outcome.step = step;
    // A call cut short by a signal failed because of the signal, whatever it was doing.
    if (kind != OutcomeKind::Success && interruption::stopsWaits()) {
        outcome.kind = OutcomeKind::Interrupted;
        outcome.signal = interruption::signalNumber();
        return;
    }
    outcome.kind = kind;
}

void settleOnFault(Outcome& outcome, OutcomeKind kind, Step step, const PortState& port) {
    settle(outcome, kind, step);
    outcome.fault = port.lastFault;
}

bool closeNoting(PortState& port, OwnerWindow& window, Outcome& outcome) {
    const bool held = port.handle != nullptr;
    const bool closed = closePort(port, window);
    if (held && !closed) {
        outcome.closeFailed = true;
        outcome.closeFault = port.lastFault;
    }
    return closed;
}

void handBack(PortState& port, OwnerWindow& window, Outcome& outcome) {
    restorePortSettings(port);
    closeNoting(port, window, outcome);
}

}  // namespace zq
