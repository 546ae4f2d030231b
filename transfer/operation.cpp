#include "transfer/operation.h"

#include "image/built_in_image.h"
#include "transfer/phases.h"

namespace zq {

namespace {

class SilentWindow final : public OwnerWindow {
  public:
    void showMessage(BoxStyle, std::string_view) override {}
    void showUnownedMessage(BoxStyle, std::string_view) override {}
};

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
                  PortState& port) {
    if (job.mode == ModeUpdate) {
        return runUpdatePhase(window, job, progressBar, port);
    }
    return runDownloadPhase(window, job, progressBar, port) &&
           runUpdatePhase(window, job, progressBar, port);
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
    lastSucceeded_ = runOperation(window, job, progressBar, port);
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
