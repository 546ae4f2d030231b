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
    // A port held from an earlier operation serves only an operation on the same port: anything
    // else would send the image to a board the user did not choose. A held port that cannot be
    // let go has shown its box; it stays held and no other port is opened.
    if (port.handle && port.name != job.portName) {
        restorePortSettings(port);
        if (!closePort(port, window)) {
            return std::nullopt;
        }
    }
    if (!preparePort(window, phase, job, port)) {
        closePort(port, window);
        return std::nullopt;
    }
    return plan;
}

}  // namespace zq
