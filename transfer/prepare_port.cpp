#include "protocol/packet_ops.h"
#include "text/messages.h"
#include "transfer/interruption_rule.h"
#include "transfer/message_box.h"
#include "transfer/outcome_steps.h"
#include "transfer/phases.h"

namespace zq {

namespace {

void readyTheLine(OwnerWindow& window, TransferPhase phase, const TransferJob& job, PortState& port,
                  Outcome& outcome) {
    outcome.phase = phase;
    if (!port.handle) {
        if (!openPort(port, job.portName)) {
            settle(outcome, OutcomeKind::PortNotOpened, Step::Open);
            outcome.open = port.lastOpenFailure;
            showError(window, messages::CannotOpenPort);
            return;
        }
        if (!initPort(port)) {
            settleOnFault(outcome, OutcomeKind::PortNotConfigured, Step::Configure, port);
            showError(window, messages::CannotConfigPort);
            return;
        }
    }
    const std::uint32_t speed = phase == PhaseDownload ? job.downloadBaud : job.updateBaud;
    if (!setLine(port, speed)) {
        settleOnFault(outcome, OutcomeKind::PortNotConfigured, Step::Configure, port);
        // The line may still have the settings of the phase before (the update phase of a
        // Download): the settings found at open go back with the timeouts, so the port is never
        // left at this program's speed.
        restorePortSettings(port);
        showError(window, messages::CannotConfigPort);
        return;
    }
    purgePort(port);
}

void prepare(OwnerWindow& window, TransferPhase phase, const TransferJob& job, PortState& port,
             Outcome& outcome, const HandshakeResult* made) {
    HandshakeResult probe;
    if (made != nullptr) {
        probe = *made;
    } else {
        if (!readyLine(window, phase, job, port, outcome)) {
            return;
        }
        enterStage(window, outcome, OperationStage::Probing);
        probe = handshake(port);
    }
    outcome.phase = phase;
    if (signalEnds(outcome)) {
        // A handshake a signal cut short tells nothing of the board: nothing more is sent.
        settle(outcome, OutcomeKind::Interrupted, Step::Handshake);
        restorePortSettings(port);
        return;
    }
    // The first handshake of an operation tells the board's mode; the update phase of a Download
    // makes a second one with the firmware just started.
    if (!outcome.probed) {
        outcome.probed = true;
        outcome.handshake = probe;
        outcome.boardMode = boardModeOf(probe);
    }
    // The loader in download mode never answers; the firmware in update mode does.
    if (probe.answered && phase == PhaseDownload) {
        settle(outcome, OutcomeKind::BoardInOtherMode, Step::Handshake);
        restorePortSettings(port);
        showError(window, messages::BoardInUpdateMode.forMode(job.mode));
        return;
    }
    if (!probe.answered && phase == PhaseUpdate) {
        if (probe.sendFailed) {
            settleOnFault(outcome, OutcomeKind::NotSent, Step::Handshake, port);
        } else {
            settle(outcome,
                   probe.bytesSeen > 0 ? OutcomeKind::NotUnderstood : OutcomeKind::NoAnswer,
                   Step::Handshake);
        }
        outcome.handshake = probe;
        restorePortSettings(port);
        showError(window, messages::BoardNotAnswering.forMode(job.mode));
        return;
    }
    purgePort(port);
}

}  // namespace

bool readyLine(OwnerWindow& window, TransferPhase phase, const TransferJob& job, PortState& port,
               Outcome& outcome) {
    readyTheLine(window, phase, job, port, outcome);
    return outcome.succeeded();
}

bool preparePort(OwnerWindow& window, TransferPhase phase, const TransferJob& job, PortState& port,
                 Outcome& outcome, const HandshakeResult* made) {
    prepare(window, phase, job, port, outcome, made);
    return outcome.succeeded();
}

bool readyLine(OwnerWindow& window, TransferPhase phase, const TransferJob& job, PortState& port) {
    Outcome outcome;
    return readyLine(window, phase, job, port, outcome);
}

bool preparePort(OwnerWindow& window, TransferPhase phase, const TransferJob& job,
                 PortState& port) {
    Outcome outcome;
    return preparePort(window, phase, job, port, outcome);
}

}  // namespace zq
