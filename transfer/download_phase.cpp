#include <chrono>

#include "protocol/packet_ops.h"
#include "text/messages.h"
#include "transfer/begin_phase.h"
#include "transfer/message_box.h"
#include "transfer/outcome_steps.h"
#include "transfer/phases.h"

namespace zq {

namespace {

void downloadPhase(OwnerWindow& window, TransferJob& job, ProgressTarget* progressBar,
                   PortState& port, Outcome& outcome, const HandshakeResult* made) {
    const std::optional<ImagePlan> started =
        beginPhase(window, job, PhaseDownload, port, outcome, made);
    if (!started) {
        return;
    }
    const ImagePlan& plan = *started;
    enterStage(window, outcome, OperationStage::Loader);
    // The loader wakes on two FF bytes; a port that cannot send them is left as it is.
    const TransferCount wake = writeOnce(port, WakeBytes.data(), WakeBytes.size());
    if (!wake.success || wake.count != WakeBytes.size()) {
        settleOnFault(outcome, OutcomeKind::NotSent, Step::WakeBytes, port);
        outcome.sent = wake;
        outcome.wanted = WakeBytes.size();
        purgePort(port);
        showError(window, messages::CannotUseComPort);
        return;
    }
    if (!sendCommand(port, loaderCommand(plan.length))) {
        settleOnFault(outcome, OutcomeKind::NotSent, Step::LoaderCommand, port);
        handBack(port, window, outcome);
        showError(window, messages::CannotUseComPort);
        return;
    }
    if (progressBar != nullptr) {
        progressBar->setRange(plan.length);
    }
    const TransferCount sent = writeChunked(port, plan.start, plan.length, progressBar);
    if (sent.success && sent.count == plan.length) {
        outcome.imageLoaded = true;
        purgePort(port);
        // The loaded image needs a moment to start before its firmware can answer.
        port.platform.sleep(std::chrono::milliseconds(100));
        return;
    }
    settleOnFault(outcome, OutcomeKind::NotSent, Step::LoaderImage, port);
    outcome.sent = sent;
    outcome.wanted = plan.length;
    handBack(port, window, outcome);
    showError(window, messages::LoaderTransferFail.forMode(job.mode));
}

}  // namespace

bool runDownloadPhase(OwnerWindow& window, TransferJob& job, ProgressTarget* progressBar,
                      PortState& port, Outcome& outcome, const HandshakeResult* made) {
    downloadPhase(window, job, progressBar, port, outcome, made);
    return outcome.succeeded();
}

bool runDownloadPhase(OwnerWindow& window, TransferJob& job, ProgressTarget* progressBar,
                      PortState& port) {
    Outcome outcome;
    return runDownloadPhase(window, job, progressBar, port, outcome);
}

}  // namespace zq
