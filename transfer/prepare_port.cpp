#include "protocol/packet_ops.h"
#include "text/messages.h"
#include "transfer/message_box.h"
#include "transfer/phases.h"

namespace zq {

bool readyLine(OwnerWindow& window, TransferPhase phase, const TransferJob& job, PortState& port) {
    if (!port.handle) {
        if (!openPort(port, job.portName)) {
            showError(window, messages::CannotOpenPort);
            return false;
        }
        if (!initPort(port)) {
            showError(window, messages::CannotConfigPort);
            return false;
        }
    }
    const std::uint32_t speed = phase == PhaseDownload ? job.downloadBaud : job.updateBaud;
    if (!setLine(port, speed)) {
        // The line may still have the settings of the phase before (the update phase of a
        // Download): the settings found at open go back with the timeouts, so the port is never
        // left at this program's speed.
        restorePortSettings(port);
        showError(window, messages::CannotConfigPort);
        return false;
    }
    purgePort(port);
    return true;
}

bool preparePort(OwnerWindow& window, TransferPhase phase, const TransferJob& job,
                 PortState& port) {
    if (!readyLine(window, phase, job, port)) {
        return false;
    }
    window.operationStage(OperationStage::Probing);
    // The loader in download mode never answers; the firmware in update mode does.
    const bool answered = syncDevice(port);
    if (answered && phase == PhaseDownload) {
        restorePortSettings(port);
        showError(window, messages::BoardInUpdateMode.forMode(job.mode));
        return false;
    }
    if (!answered && phase == PhaseUpdate) {
        restorePortSettings(port);
        showError(window, messages::BoardNotAnswering.forMode(job.mode));
        return false;
    }
    purgePort(port);
    return true;
}

}  // namespace zq
