#include "app/explain/reason_text.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "app/explain/printable_name.h"
#include "protocol/command_packet.h"
#include "serial/port_fault_text.h"
#include "transfer/latency_advice.h"

namespace zq {

namespace {

using std::chrono::milliseconds;

std::string requestName(Step step) {
    switch (step) {
        case Step::TransferFirmware:
            return "TransferFirmware packet";
        case Step::DataCommand:
            return "Data packet";
        case Step::PayloadAck:
            return "image";
        case Step::Status:
            return "status Query";
        case Step::Handshake:
            return "handshake";
        case Step::WakeBytes:
            return "wake bytes";
        case Step::LoaderCommand:
            return "Loader packet";
        case Step::LoaderImage:
        case Step::Payload:
            return "image";
        default:
            return "request";
    }
}

std::string received(const ReplyEvidence& reply) {
    return hexBytes(std::span(reply.got.bytes).first(reply.received));
}

// What a phase's size test made of the image: the length it measured, more than its limit.
std::string imageTrouble(const Outcome& outcome) {
    const ImageFault& image = outcome.image;
    if (image.fault != ImagePlanFault::TooLong) {
        return "there is no image to send";
    }
    const std::string limit = std::to_string(image.limit);
    return std::to_string(image.measured) +
           (outcome.phase == PhaseDownload
                ? " bytes to load, more than the " + limit + " a Download takes"
                : " bytes to program with the boot header, more than the " + limit +
                      " an Update takes");
}

std::string onDevice(std::string_view device, const PortFault& fault) {
    if (device.empty()) {
        return describeFault(fault);
    }
    return std::string(device) + ": " + describeFault(fault);
}

std::string inParts(const HandshakeResult& handshake) {
    return "the board's replies came in parts, the rest about " +
           std::to_string(std::chrono::round<milliseconds>(handshake.splitGap).count()) +
           " ms after the first";
}

std::string handshakeTrouble(const Outcome& outcome) {
    const std::string tries = std::to_string(outcome.handshake.tries);
    if (outcome.kind == OutcomeKind::NotUnderstood && outcome.handshake.splitGap.count() > 0) {
        return inParts(outcome.handshake) + ", never whole within the read's time limits (" +
               tries +
               " handshake tries): an adapter that holds bytes back, or a board out of step";
    }
    if (outcome.kind == OutcomeKind::NotUnderstood) {
        return std::to_string(outcome.handshake.bytesSeen) + " bytes came back in " + tries +
               " handshake tries but never the board's answer: a board answers that is not "
               "understood (another line speed, another device, or a board out of step)";
    }
    if (outcome.performed != ModeUpdate) {
        return "nothing answered the handshake after the image went to the loader (" + tries +
               " tries): no board, not powered, not in download mode, or the image did not start";
    }
    return "the board never answered the handshake (" + tries +
           " tries): probably not powered, not connected, or in download mode (use download, or "
           "flash)";
}

std::string replyTrouble(const Outcome& outcome) {
    const ReplyEvidence& reply = outcome.reply;
    const std::string expected =
        packetName(reply.expectedId) + " of the " + requestName(outcome.step);
    if (outcome.kind == OutcomeKind::LateReply) {
        char late[32];
        std::snprintf(late, sizeof late, "%.1f ms",
                      std::chrono::duration<double, std::milli>(*reply.lateBy).count());
        return "a late reply: the board's answer to an earlier request (" +
               packetName(reply.got.id()) + ", " + received(reply) + ") came after its window " +
               "and was read " + late + " after that request, where the " + expected + " was due" +
               (outcome.handshake.splitGap.count() > 0 ? "; " + inParts(outcome.handshake) : "");
    }
    if (reply.received == 0) {
        return "the board never answered the " + requestName(outcome.step);
    }
    if (reply.received < reply.got.bytes.size()) {
        return "only " + std::to_string(reply.received) + " of 6 bytes of the board's reply (" +
               received(reply) + ") came within the read's time limit";
    }
    if (!reply.accepted) {
        return "the board answered with bytes that are no packet (" + received(reply) +
               ") instead of the " + expected;
    }
    return "the board answered with " + packetName(reply.got.id()) + " (" + received(reply) +
           ") instead of the " + expected;
}

std::string sendTrouble(const Outcome& outcome) {
    if (outcome.fault) {
        // The call failed, and the system gave no reason for it.
        return outcome.wanted == 0
                   ? "the port refused the write of the " + requestName(outcome.step)
                   : "the port refused the write of " + std::to_string(outcome.wanted) +
                         " bytes after " + std::to_string(outcome.sent.count);
    }
    if (outcome.wanted == 0) {
        return "the port did not take the " + requestName(outcome.step) +
               " within the write's time limit";
    }
    return "the port took only " + std::to_string(outcome.sent.count) + " of " +
           std::to_string(outcome.wanted) + " bytes of the " + requestName(outcome.step) +
           " within the write's time limit";
}

}  // namespace

std::string stageInWords(std::optional<OperationStage> stage) {
    if (!stage) {
        return "the port's setup, before anything was sent";
    }
    switch (*stage) {
        case OperationStage::Probing:
            return "the handshake";
        case OperationStage::Loader:
            return "the loader's transfer";
        case OperationStage::Firmware:
            return "the image's transfer";
        case OperationStage::AwaitingAck:
            return "the wait for the image's acknowledgement";
        case OperationStage::Programming:
            return "the programming";
    }
    return "the operation";
}

std::string explainOutcome(const Outcome& outcome, std::string_view device) {
    // A port call the system failed is the cause; what the board did or did not answer after it
    // is only its consequence.
    if (outcome.kind == OutcomeKind::BoardGone) {
        return "the board or its adapter went away during " + stageInWords(outcome.reached) + " (" +
               onDevice(device, outcome.fault) + ")";
    }
    if (outcome.fault && outcome.fault.error) {
        return onDevice(device, outcome.fault);
    }
    switch (outcome.kind) {
        case OutcomeKind::Success:
        case OutcomeKind::PortNotConfigured:
        case OutcomeKind::PortNotReleased:
            return {};
        case OutcomeKind::ImageRefused:
            return imageTrouble(outcome);
        case OutcomeKind::PortNotOpened: {
            // The holders' names are the system's bytes.
            OpenFailure open = outcome.open;
            std::ranges::for_each(open.holders, [](std::string& h) { h = printableName(h); });
            return explainOpenFailure(open, device).advice;
        }
        case OutcomeKind::BoardInOtherMode:
            return "the board answered the handshake, so it runs firmware (update mode): its own, "
                   "or the image a Download loaded before its update phase failed; use update, or "
                   "flash, which chooses by the board's mode";
        case OutcomeKind::NoAnswer:
        case OutcomeKind::NotUnderstood:
            return handshakeTrouble(outcome);
        case OutcomeKind::NotSent:
            return sendTrouble(outcome);
        case OutcomeKind::NoReply:
        case OutcomeKind::WrongReply:
        case OutcomeKind::LateReply:
            return replyTrouble(outcome);
        case OutcomeKind::EepromFailed: {
            char text[96];
            std::snprintf(text, sizeof text,
                          "the board reported status 0x%04X after programming (bit 7: "
                          "programming failed)",
                          static_cast<unsigned>(outcome.status.value_or(0)));
            return text;
        }
        case OutcomeKind::StatusNotReported:
            return "the board did not report its status after programming";
        case OutcomeKind::Interrupted:
        case OutcomeKind::BoardGone:
            return {};
    }
    return {};
}

std::string explainCloseFailure(const Outcome& outcome, std::string_view device) {
    return outcome.closeFault.error ? onDevice(device, outcome.closeFault) : std::string();
}

std::string latencyAdvice(const Outcome& outcome) {
    const unsigned latency = advisedLatency(outcome);
    if (latency == 0) {
        return {};
    }
    const std::string outOfStep =
        mayBeOutOfStep(outcome)
            ? " If it still fails, power-cycle the board (restart zq417-sim): replies that came "
              "in parts can leave it answering out of step."
            : "";
    const std::string value = "--latency " + std::to_string(latency);
    // The loader took the image and the board runs it now: it answers the handshake, so a
    // second Download would find it in update mode.
    const std::string retry = outcome.imageLoaded ? "try update " + value + " (or flash " + value +
                                                        "): the board runs the loaded image now"
                                                  : "try " + value;
    return "Replies came late or in parts, as USB serial adapters send them when they hold small "
           "replies back; " +
           retry + ", or set the adapter's latency timer to 1 ms." + outOfStep;
}

}  // namespace zq
