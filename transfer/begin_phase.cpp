#include "transfer/begin_phase.h"

#include "transfer/message_box.h"
#include "transfer/outcome_steps.h"
#include "transfer/phases.h"

namespace zq {

std::optional<ImagePlan> planPhase(OwnerWindow& window, TransferJob& job, TransferPhase phase,
                                   Outcome& outcome) {
    outcome.phase = phase;
    ImagePlan plan = planImage(job, phase);
    if (plan.fault) {
        settle(outcome, OutcomeKind::ImageRefused, Step::None);
        outcome.image = plan.fault;
        showError(window, plan.failure);
        return std::nullopt;
    }
    return plan;
}

std::optional<ImagePlan> beginPhase(OwnerWindow& window, TransferJob& job, TransferPhase phase,
                                    PortState& port, Outcome& outcome,
                                    const HandshakeResult* made) {
    std::optional<ImagePlan> plan = planPhase(window, job, phase, outcome);
    if (!plan) {
        return plan;
    }
    // A port held from an earlier operation serves only an operation on the same port: anything
    // else would send the image to a board the user did not choose. A held port that cannot be
    // let go has shown its box; it stays held and no other port is opened.
    if (port.handle && port.name != job.portName) {
        restorePortSettings(port);
        if (!closeNoting(port, window, outcome)) {
            settleOnFault(outcome, OutcomeKind::PortNotReleased, Step::Open, port);
            return std::nullopt;
        }
    }
    if (!preparePort(window, phase, job, port, outcome, made)) {
        closeNoting(port, window, outcome);
        return std::nullopt;
    }
    return plan;
}

}  // namespace zq
