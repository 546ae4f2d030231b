#include "transfer/operation.h"

#include "image/built_in_image.h"
#include "transfer/begin_phase.h"
#include "transfer/image_plan.h"
#include "transfer/interruption_rule.h"
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

namespace {

// A signal that came before the operation began ends it before anything is touched.
bool stoppedBeforeStart(Outcome& outcome) {
    if (!signalEnds(outcome)) {
        return false;
    }
    settle(outcome, OutcomeKind::Interrupted, Step::None);
    return true;
}

// The phases of the operation the job's mode names, the first judging `made` when a probe made
// its handshake already.
void runPhases(OwnerWindow& window, TransferJob& job, ProgressTarget* progressBar, PortState& port,
               Outcome& outcome, const HandshakeResult* made) {
    outcome.performed = job.mode;
    if (job.mode == ModeUpdate) {
        runUpdatePhase(window, job, progressBar, port, outcome, made);
    } else if (runDownloadPhase(window, job, progressBar, port, outcome, made)) {
        runUpdatePhase(window, job, progressBar, port, outcome);
    }
}

void flash(OwnerWindow& window, TransferJob& job, ProgressTarget* progressBar, PortState& port,
           Outcome& outcome) {
    // The image must suit both operations before the board is asked which one it needs.
    if (!checkImage(window, job, ModeDownload, outcome)) {
        return;
    }
    // Both phases set the line up alike at the one line speed; a port left open by a failure
    // here is handed back as the phase would have.
    if (!readyLine(window, PhaseUpdate, job, port, outcome)) {
        closeNoting(port, window, outcome);
        return;
    }
    enterStage(window, outcome, OperationStage::Probing);
    const HandshakeResult probe = handshake(port);
    // A probe a signal cut short tells nothing of the board: no operation is chosen.
    if (signalEnds(outcome)) {
        settle(outcome, OutcomeKind::Interrupted, Step::Handshake);
        handBack(port, window, outcome);
        return;
    }
    // Only silence is the loader's: a board that answers, or sends bytes that make no handshake,
    // is never sent the loader.
    job.mode = boardModeOf(probe) == BoardMode::Download ? ModeDownload : ModeUpdate;
    runPhases(window, job, progressBar, port, outcome, &probe);
}

}  // namespace

bool runOperation(OwnerWindow& window, TransferJob& job, ProgressTarget* progressBar,
                  PortState& port, Outcome& outcome) {
    if (!stoppedBeforeStart(outcome)) {
        runPhases(window, job, progressBar, port, outcome, nullptr);
    }
    return outcome.succeeded();
}

bool runOperation(OwnerWindow& window, TransferJob& job, ProgressTarget* progressBar,
                  PortState& port) {
    Outcome outcome;
    return runOperation(window, job, progressBar, port, outcome);
}

bool runFlash(OwnerWindow& window, TransferJob& job, ProgressTarget* progressBar, PortState& port,
              Outcome& outcome) {
    if (!stoppedBeforeStart(outcome)) {
        flash(window, job, progressBar, port, outcome);
    }
    return outcome.succeeded();
}

bool checkImage(OwnerWindow& window, TransferJob& job, TransferMode mode, Outcome& outcome) {
    if (mode == ModeUpdate || planPhase(window, job, PhaseDownload, outcome)) {
        planPhase(window, job, PhaseUpdate, outcome);
    }
    return outcome.succeeded();
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
