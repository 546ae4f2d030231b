#include "transfer/begin_phase.h"

#include "transfer/message_box.h"
#include "transfer/phases.h"

namespace zq {

std::optional<ImagePlan> beginPhase(OwnerWindow& window, TransferJob& job, TransferPhase phase,
                                    PortState& port) {
    const ImagePlan plan = planImage(job, phase);
    if (!plan.failure.empty()) {
        showError(window, plan.failure);
        return std::nullopt;
    }
    if (!preparePort(window, phase, job, port)) {
        closePort(port, window);
        return std::nullopt;
    }
    return plan;
}

}  // namespace zq
