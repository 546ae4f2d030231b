#include <chrono>

#include "image/boot_header.h"
#include "protocol/packet_ops.h"
#include "text/messages.h"
#include "transfer/begin_phase.h"
#include "transfer/interruption_rule.h"
#include "transfer/message_box.h"
#include "transfer/outcome_steps.h"
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

// Sends the payload; what left, of the plan's length.
TransferCount sendPayload(PortState& port, const ImagePlan& plan, ProgressTarget* progressBar) {
    if (!plan.headerInFront) {
        return writeChunked(port, plan.start, plan.length, progressBar);
    }
    constexpr auto HeaderLength = static_cast<std::uint32_t>(BootHeader.size());
    const TransferCount header = writeChunked(port, BootHeader.data(), HeaderLength, progressBar);
    if (!header.success || header.count != HeaderLength) {
        return header;
    }
    OffsetProgress afterHeader(progressBar, HeaderLength);
    TransferCount image = writeChunked(port, plan.start, plan.length - HeaderLength,
                                       progressBar != nullptr ? &afterHeader : nullptr);
    image.count += HeaderLength;
    return image;
}

// A reply that was not the one wanted: none, part of one, or another packet.
void settleReply(Outcome& outcome, Step step, const PortState& port, const ReplyResult& reply,
                 std::uint8_t id, std::uint8_t param1) {
    const OutcomeKind kind = reply.readFailed     ? OutcomeKind::NoReply
                             : reply.lateBy       ? OutcomeKind::LateReply
                             : reply.received < 6 ? OutcomeKind::NoReply
                                                  : OutcomeKind::WrongReply;
    if (reply.readFailed) {
        settleOnFault(outcome, kind, step, port);
    } else {
        settle(outcome, kind, step);
    }
    outcome.reply = replyEvidence(reply, id, param1);
}

void updatePhase(OwnerWindow& window, TransferJob& job, ProgressTarget* progressBar,
                 PortState& port, Outcome& outcome, const HandshakeResult* made) {
    const std::optional<ImagePlan> started =
        beginPhase(window, job, PhaseUpdate, port, outcome, made);
    if (!started) {
        return;
    }
    const ImagePlan& plan = *started;
    enterStage(window, outcome, OperationStage::Firmware);
    if (!sendCommand(port, transferFirmwarePacket(plan.length))) {
        settleOnFault(outcome, OutcomeKind::NotSent, Step::TransferFirmware, port);
        handBack(port, window, outcome);
        showError(window, messages::CannotUseComPort);
        return;
    }
    if (const ReplyResult ack = receiveReply(port, 1); !isReply(ack, IdAck, IdTransferFirmware)) {
        settleReply(outcome, Step::TransferFirmware, port, ack, IdAck, IdTransferFirmware);
        handBack(port, window, outcome);
        showError(window, messages::AfterTransferFirmwareCommand);
        return;
    }
    if (!sendCommand(port, dataPacket(plan.length))) {
        settleOnFault(outcome, OutcomeKind::NotSent, Step::DataCommand, port);
        handBack(port, window, outcome);
        showError(window, messages::CannotUsePort);
        return;
    }
    if (progressBar != nullptr) {
        progressBar->setRange(plan.length);
    }
    port.platform.sleep(milliseconds(5));
    if (const TransferCount sent = sendPayload(port, plan, progressBar);
        !sent.success || sent.count != plan.length) {
        settleOnFault(outcome, OutcomeKind::NotSent, Step::Payload, port);
        outcome.sent = sent;
        outcome.wanted = plan.length;
        handBack(port, window, outcome);
        showError(window, messages::PayloadSendFail.forMode(job.mode));
        return;
    }
    ProgrammingShield shield(window, outcome);
    enterStage(window, outcome, OperationStage::AwaitingAck);
    if (const ReplyResult ack = receiveReply(port, 1); !isReply(ack, IdAck, IdData)) {
        settleReply(outcome, Step::PayloadAck, port, ack, IdAck, IdData);
        handBack(port, window, outcome);
        showError(window, messages::PayloadNotAcknowledged.forMode(job.mode));
        return;
    }
    enterStage(window, outcome, OperationStage::Programming);
    shield.programming();
    // The board programs its EEPROM meanwhile.
    port.platform.sleep(milliseconds(5000));
    const StatusResult status = readStatus(port, StatusRegister);
    // The port call that kept the status from being read, if one did: the close below forgets it.
    const PortFault statusFault = port.lastFault;
    port.platform.sleep(milliseconds(1000));
    purgePort(port);
    handBack(port, window, outcome);
    if (!status.success) {
        settleOnFault(outcome, OutcomeKind::StatusNotReported, Step::Status, statusFault);
        showError(window, messages::EepromProgramFail);
        return;
    }
    outcome.status = status.value;
    if ((status.value & StatusProgramFailed) != 0) {
        settle(outcome, OutcomeKind::EepromFailed, Step::Status);
        showError(window, messages::EepromProgramFail);
        return;
    }
    settle(outcome, OutcomeKind::Success, Step::None);
    showPlain(window, messages::Success.forMode(job.mode));
}

}  // namespace

bool runUpdatePhase(OwnerWindow& window, TransferJob& job, ProgressTarget* progressBar,
                    PortState& port, Outcome& outcome, const HandshakeResult* made) {
    updatePhase(window, job, progressBar, port, outcome, made);
    return outcome.succeeded();
}

bool runUpdatePhase(OwnerWindow& window, TransferJob& job, ProgressTarget* progressBar,
                    PortState& port) {
    Outcome outcome;
    return runUpdatePhase(window, job, progressBar, port, outcome);
}

}  // namespace zq
