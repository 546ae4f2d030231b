#include "transfer/outcome_steps.h"

#include "serial/interruption.h"
#include "transfer/interruption_rule.h"

namespace zq {

void enterStage(OwnerWindow& window, Outcome& outcome, OperationStage stage) {
    outcome.reached = stage;
    window.operationStage(stage);
}

void settle(Outcome& outcome, OutcomeKind kind, Step step) {
    outcome.step = step;
    // A call cut short by a signal failed because of the signal, whatever it was doing; and a
    // result reached after a signal that ended the operation is not known to be the board's.
    if (signalEnds(outcome)) {
        outcome.kind = OutcomeKind::Interrupted;
        outcome.signal = interruption::signalNumber();
        return;
    }
    outcome.kind = kind;
}

void settleOnFault(Outcome& outcome, OutcomeKind kind, Step step, const PortFault& fault) {
    // A device that went away fails whichever call came next; what failed is the board, the
    // same at every stage, not the port's setup or one packet.
    const bool gone = fault && fault.error.deviceGone && kind != OutcomeKind::PortNotReleased;
    settle(outcome, gone ? OutcomeKind::BoardGone : kind, step);
    outcome.fault = fault;
}

void settleOnFault(Outcome& outcome, OutcomeKind kind, Step step, const PortState& port) {
    settleOnFault(outcome, kind, step, port.lastFault);
}

BoardMode boardModeOf(const HandshakeResult& handshake) {
    return handshake.answered                                  ? BoardMode::Update
           : handshake.bytesSeen == 0 && !handshake.sendFailed ? BoardMode::Download
                                                               : BoardMode::Unknown;
}

namespace {

// Notes a close that failed in the outcome before its box comes up, so the owner of the box can
// say why.
class CloseNoter final : public OwnerWindow {
  public:
    CloseNoter(OwnerWindow& window, Outcome& outcome, const PortState& port)
        : window_(window), outcome_(outcome), port_(port) {}

    void showMessage(BoxStyle style, std::string_view text) override {
        window_.showMessage(style, text);
    }
    void showUnownedMessage(BoxStyle style, std::string_view text) override {
        outcome_.closeFault = port_.lastFault;
        window_.showUnownedMessage(style, text);
    }
    void operationStage(OperationStage stage) override { window_.operationStage(stage); }
    void signalHeldOff(int signal) override { window_.signalHeldOff(signal); }

  private:
    OwnerWindow& window_;
    Outcome& outcome_;
    const PortState& port_;
};

}  // namespace

bool closeNoting(PortState& port, OwnerWindow& window, Outcome& outcome) {
    CloseNoter noter(window, outcome, port);
    return closePort(port, noter);
}

void handBack(PortState& port, OwnerWindow& window, Outcome& outcome) {
    restorePortSettings(port);
    closeNoting(port, window, outcome);
}

}  // namespace zq
