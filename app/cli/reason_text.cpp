#include "app/cli/reason_text.h"

#include <cstdio>

#include "protocol/command_packet.h"
#include "protocol/packet_ops.h"
#include "text/messages.h"

namespace zq::cli {

namespace {

bool isOneOf(std::string_view text, const messages::ByMode& texts) {
    return !text.empty() &&
           (text == texts.download || text == texts.update || text == texts.advancedDownload);
}

std::string packetName(std::uint8_t id) {
    switch (id) {
        case IdTransferFirmware:
            return "TransferFirmware";
        case IdData:
            return "Data";
        case IdQuery:
            return "Query";
        case IdLoader:
            return "Loader";
        case IdSync:
            return "Sync";
        case IdAck:
            return "Ack";
        default: {
            char text[16];
            std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(id));
            return std::string("id ") + text;
        }
    }
}

std::string ms(std::chrono::nanoseconds t) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f ms", static_cast<double>(t.count()) / 1e6);
    return text;
}

// A reply to a command: none, late, or the wrong packet.
std::string replyTrouble(const WireRecord& wire, std::string_view command) {
    const std::vector<std::uint8_t>& got = wire.repliedSince();
    const std::string expected = "the Ack of " + std::string(command);
    if (got.empty()) {
        return "the board never answered the " + std::string(command) + " packet";
    }
    if (got.size() < 6) {
        return "the board answered too late: only " + std::to_string(got.size()) +
               " of 6 bytes of its reply (" + hexBytes(got) + ") came within the read's time " +
               "limit, the last " + ms(*wire.lastReplyAfter()) + " after the request";
    }
    const CommandPacket reply{{got[0], got[1], got[2], got[3], got[4], got[5]}};
    if (!isAcceptedReply(reply.bytes)) {
        return "the board answered with bytes that are no packet (" + hexBytes(reply.bytes) +
               ") instead of " + expected;
    }
    return "the board answered with " + packetName(reply.id()) + " (" + hexBytes(reply.bytes) +
           ") instead of " + expected;
}

std::string writeTrouble(const WireRecord& wire) {
    if (wire.lastWriteFailed()) {
        return "the port refused the write of " + std::to_string(wire.lastWriteAsked()) +
               " bytes after " + std::to_string(wire.lastWriteDone());
    }
    return "the port took only " + std::to_string(wire.lastWriteDone()) + " of " +
           std::to_string(wire.lastWriteAsked()) + " bytes within the write's time limit";
}

}  // namespace

std::string hexBytes(std::span<const std::uint8_t> bytes) {
    std::string text;
    for (const std::uint8_t b : bytes) {
        char two[4];
        std::snprintf(two, sizeof two, "%s%02X", text.empty() ? "" : " ", static_cast<unsigned>(b));
        text += two;
    }
    return text;
}

std::string explainFailure(std::string_view box, TransferMode mode, const WireRecord& wire,
                           std::string_view systemReason) {
    // A port call the system failed is the cause; what the board did or did not answer after it
    // is only its consequence.
    if (!systemReason.empty()) {
        return std::string(systemReason);
    }
    if (box == messages::CannotConfigPort || box == messages::CannotClosePort) {
        return {};
    }
    if (isOneOf(box, messages::BoardInUpdateMode)) {
        return "the board answered the handshake, so it runs its firmware (update mode); use "
               "update, or flash, which chooses by the board's mode";
    }
    if (isOneOf(box, messages::BoardNotAnswering)) {
        if (!wire.repliedSince().empty()) {
            return "the board never completed the handshake: its last reply was " +
                   hexBytes(wire.repliedSince());
        }
        if (mode == ModeUpdate) {
            return "the board never answered the handshake (" + std::to_string(SyncTries) +
                   " tries): probably not powered, not connected, or in download mode (use "
                   "download, or flash)";
        }
        return "the loaded firmware never answered the handshake (" + std::to_string(SyncTries) +
               " tries): the board took the image but did not start it; probably not powered, "
               "not connected, or not a ZQ417";
    }
    if (box == messages::AfterTransferFirmwareCommand) {
        return replyTrouble(wire, "TransferFirmware");
    }
    if (isOneOf(box, messages::PayloadNotAcknowledged)) {
        return replyTrouble(wire, "image");
    }
    if (box == messages::EepromProgramFail) {
        if (const std::optional<std::uint16_t> status = wire.statusValue()) {
            char text[96];
            std::snprintf(text, sizeof text,
                          "the board reported status 0x%04X after programming (bit 7: "
                          "programming failed)",
                          static_cast<unsigned>(*status));
            return text;
        }
        return "the board did not report its status after programming: " +
               replyTrouble(wire, "status Query");
    }
    if (box == messages::CannotUseComPort || box == messages::CannotUsePort ||
        isOneOf(box, messages::LoaderTransferFail) || isOneOf(box, messages::PayloadSendFail)) {
        return writeTrouble(wire);
    }
    return {};
}

}  // namespace zq::cli
