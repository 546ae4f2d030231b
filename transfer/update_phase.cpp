#include <chrono>

#include "image/boot_header.h"
#include "protocol/packet_ops.h"
#include "text/messages.h"
#include "transfer/begin_phase.h"
#include "transfer/message_box.h"
#include "transfer/phases.h"

namespace zq {

namespace {

using std::chrono::milliseconds;

// Reports the image's positions after the header that went in front of it, so that the bar
// reaches the end of its range when the last byte has gone.
class OffsetProgress : public ProgressTarget {
  public:
    OffsetProgress(ProgressTarget* target, std::uint32_t offset)
        : target_(target), offset_(offset) {}
    void setRange(std::uint32_t maximum) override { target_->setRange(maximum); }
    void setPosition(std::uint32_t position) override { target_->setPosition(position + offset_); }

  private:
    ProgressTarget* target_;
    std::uint32_t offset_;
};

// Sends the payload; true only when every byte went.
bool sendPayload(PortState& port, const ImagePlan& plan, ProgressTarget* progressBar) {
    if (!plan.headerInFront) {
        const TransferCount sent = writeChunked(port, plan.start, plan.length, progressBar);
        return sent.success && sent.count == plan.length;
    }
    constexpr auto HeaderLength = static_cast<std::uint32_t>(BootHeader.size());
    const TransferCount header = writeChunked(port, BootHeader.data(), HeaderLength, progressBar);
    if (!header.success || header.count != HeaderLength) {
        return false;
    }
    OffsetProgress afterHeader(progressBar, HeaderLength);
    const TransferCount image = writeChunked(port, plan.start, plan.length - HeaderLength,
                                             progressBar != nullptr ? &afterHeader : nullptr);
    return image.success && image.count + HeaderLength == plan.length;
}

// Every exit after the port was prepared hands the port back the same way.
void handBack(PortState& port, OwnerWindow& window) {
    restorePortSettings(port);
    closePort(port, window);
}

}  // namespace

bool runUpdatePhase(OwnerWindow& window, TransferJob& job, ProgressTarget* progressBar,
                    PortState& port) {
    const std::optional<ImagePlan> started = beginPhase(window, job, PhaseUpdate, port);
    if (!started) {
        return false;
    }
    const ImagePlan& plan = *started;
    window.operationStage(OperationStage::Firmware);
    if (!sendCommand(port, transferFirmwarePacket(plan.length))) {
        handBack(port, window);
        showError(window, messages::CannotUseComPort);
        return false;
    }
    if (!isReply(receiveReply(port, 1), IdAck, IdTransferFirmware)) {
        handBack(port, window);
        showError(window, messages::AfterTransferFirmwareCommand);
        return false;
    }
    if (!sendCommand(port, dataPacket(plan.length))) {
        handBack(port, window);
        showError(window, messages::CannotUsePort);
        return false;
    }
    if (progressBar != nullptr) {
        progressBar->setRange(plan.length);
    }
    port.platform.sleep(milliseconds(5));
    if (!sendPayload(port, plan, progressBar)) {
        handBack(port, window);
        showError(window, messages::PayloadSendFail.forMode(job.mode));
        return false;
    }
    window.operationStage(OperationStage::AwaitingAck);
    if (!isReply(receiveReply(port, 1), IdAck, IdData)) {
        handBack(port, window);
        showError(window, messages::PayloadNotAcknowledged.forMode(job.mode));
        return false;
    }
    window.operationStage(OperationStage::Programming);
    // The board programs its EEPROM meanwhile.
    port.platform.sleep(milliseconds(5000));
    const StatusResult status = readStatus(port, StatusRegister);
    port.platform.sleep(milliseconds(1000));
    purgePort(port);
    handBack(port, window);
    if (!status.success || (status.value & StatusProgramFailed) != 0) {
        showError(window, messages::EepromProgramFail);
        return false;
    }
    showPlain(window, messages::Success.forMode(job.mode));
    return true;
}

}  // namespace zq
