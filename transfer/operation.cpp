#include "transfer/operation.h"

#include "image/built_in_image.h"
#include "transfer/image_plan.h"
#include "transfer/message_box.h"
#include "transfer/outcome_steps.h"
#include "transfer/phases.h"

namespace zq {

namespace {

class SilentWindow final : public OwnerWindow {
  public:
    void showMessage(BoxStyle, std::string_view) override {}
    void showUnownedMessage(BoxStyle, std::string_view) override {}
};

// Enough for a board that is there to answer; a silent port costs about 0.1 s.
constexpr int ProbeTries = 3;

}  // namespace

void fillJob(TransferJob& job, TransferMode mode, const std::string& portName) {
    job.mode = mode;
    job.portName = portName;
    job.downloadBaud = LineSpeed;
    job.updateBaud = LineSpeed;
    job.capacity = ImageCapacity;
    useBuiltInImage(job);
}

bool runOperation(OwnerWindow& window, TransferJob& job, ProgressTarget* progressBar,
                  PortState& port, Outcome& outcome) {
    outcome.performed = job.mode;
    if (job.mode == ModeUpdate) {
        return runUpdatePhase(window, job, progressBar, port, outcome);
    }
    return runDownloadPhase(window, job, progressBar, port, outcome) &&
           runUpdatePhase(window, job, progressBar, port, outcome);
}

bool runOperation(OwnerWindow& window, TransferJob& job, ProgressTarget* progressBar,
                  PortState& port) {
    Outcome outcome;
    return runOperation(window, job, progressBar, port, outcome);
}

bool runFlash(OwnerWindow& window, TransferJob& job, ProgressTarget* progressBar, PortState& port,
              Outcome& outcome) {
    // The image must suit both operations before the board is asked which one it needs.
    for (const TransferPhase phase : {PhaseDownload, PhaseUpdate}) {
        if (const ImagePlan plan = planImage(job, phase); !plan.failure.empty()) {
            outcome.phase = phase;
            settle(outcome, OutcomeKind::ImageRefused, Step::None);
            outcome.image = plan.fault;
            showError(window, plan.failure);
            return false;
        }
    }
    // Both phases set the line up alike at the one line speed; a port left open by a failure
    // here is handed back as the phase would have.
    if (!readyLine(window, PhaseUpdate, job, port, outcome)) {
        closeNoting(port, window, outcome);
        return false;
    }
    enterStage(window, outcome, OperationStage::Probing);
    const HandshakeResult probe = handshake(port);
    // Bytes that made no handshake are a board that answers but is not understood: the loader
    // is for a board that says nothing at all.
    job.mode =
        probe.answered || probe.bytesSeen > 0 || probe.sendFailed ? ModeUpdate : ModeDownload;
    outcome.performed = job.mode;
    if (job.mode == ModeUpdate) {
        return runUpdatePhase(window, job, progressBar, port, outcome, &probe);
    }
    return runDownloadPhase(window, job, progressBar, port, outcome, &probe) &&
           runUpdatePhase(window, job, progressBar, port, outcome);
}

bool probeBoard(Platform& platform, const std::string& portName, OpenFailure* opened) {
    SilentWindow silent;
    TransferJob job;
    fillJob(job, ModeUpdate, portName);
    PortState port(platform);
    const bool ready = readyLine(silent, PhaseUpdate, job, port);
    if (opened != nullptr) {
        *opened = port.lastOpenFailure;
    }
    if (!ready) {
        // Also ends the timer request a failed open made.
        closePort(port, silent);
        return false;
    }
    const bool answered = handshake(port, ProbeTries).answered;
    releaseHeldPort(silent, port);
    return answered;
}

void releaseHeldPort(OwnerWindow& window, PortState& port) {
    if (!port.handle) {
        return;
    }
    restorePortSettings(port);
    if (!closePort(port, window)) {
        port.platform.endTimerResolution();
        // The device makes its last attempt to close as it goes.
        port.handle.reset();
    }
}

bool WindowSession::run(OwnerWindow& window, TransferMode mode, const std::string& portName,
                        ProgressTarget* progressBar) {
    if (running_) {
        return false;
    }
    running_ = true;
    fillJob(job, mode, portName);
    lastOutcome_ = Outcome{};
    lastSucceeded_ = runOperation(window, job, progressBar, port, lastOutcome_);
    running_ = false;
    if (endPending_) {
        endPending_ = false;
        SilentWindow silent;
        releaseHeldPort(silent, port);
    }
    return true;
}

void WindowSession::end(OwnerWindow& window) {
    if (running_) {
        // The phases touch the line no more once they wait for a box, so this is safe under
        // them; the rest waits until they return.
        restorePortSettings(port);
        endPending_ = true;
        return;
    }
    releaseHeldPort(window, port);
}

void WindowSession::endQuietly() {
    SilentWindow silent;
    end(silent);
}

void WindowSession::abandon() {
    SilentWindow silent;
    releaseHeldPort(silent, port);
}

}  // namespace zq
