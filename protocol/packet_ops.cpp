#include "protocol/packet_ops.h"

#include <algorithm>
#include <chrono>
#include <optional>

namespace zq {

namespace {

using std::chrono::milliseconds;

void pause(PortState& port, int ms) {
    port.platform.sleep(milliseconds(ms));
}

// Requests whose answer is awaited; an Ack names the request it answers in its first parameter.
bool awaitsAnswer(std::uint8_t id) {
    return id == IdSync || id == IdTransferFirmware || id == IdData || id == IdQuery;
}

// At most the handshake's tries are remembered; older requests can no longer be told apart.
constexpr std::size_t PendingLimit = SyncTries;

void notePending(PortState& port, const CommandPacket& packet) {
    if (!awaitsAnswer(packet.id())) {
        return;
    }
    if (port.pending.size() == PendingLimit) {
        port.pending.erase(port.pending.begin());
    }
    port.pending.push_back({packet.id(), port.platform.now()});
}

// Matches an Ack with the oldest request of its kind still waiting. When newer requests went out
// after that one, the Ack came after its window: how long after its request it was read.
std::optional<std::chrono::nanoseconds> matchAnswer(PortState& port, const CommandPacket& reply) {
    if (reply.id() != IdAck) {
        return std::nullopt;
    }
    const auto answered =
        std::find_if(port.pending.begin(), port.pending.end(),
                     [&](const PendingRequest& r) { return r.tag == reply.param1(); });
    if (answered == port.pending.end()) {
        return std::nullopt;
    }
    const bool stale = answered + 1 != port.pending.end();
    const std::chrono::nanoseconds waited = port.platform.now() - answered->sentAt;
    port.pending.erase(answered);
    if (!stale) {
        return std::nullopt;
    }
    return waited;
}

}  // namespace

bool isReply(const ReplyResult& reply, std::uint8_t id, std::uint8_t param1) {
    return reply.success && reply.packet.id() == id && reply.packet.param1() == param1;
}

ReplyEvidence replyEvidence(const ReplyResult& reply, std::uint8_t id, std::uint8_t param1) {
    return {.expectedId = id,
            .expectedParam = param1,
            .received = reply.received,
            .got = reply.packet,
            .readFailed = reply.readFailed,
            .accepted = reply.success,
            .lateBy = reply.lateBy};
}

bool sendCommand(PortState& port, const CommandPacket& packet) {
    const TransferCount sent = writeOnce(port, packet.bytes.data(), packet.bytes.size());
    if (sent.success && sent.count == packet.bytes.size()) {
        notePending(port, packet);
        return true;
    }
    purgePort(port);
    pause(port, 5);
    return false;
}

ReplyResult receiveReply(PortState& port, int attempts) {
    ReplyResult reply;
    std::uint8_t* const buffer = reply.packet.bytes.data();
    constexpr std::uint32_t Wanted = 6;
    std::uint32_t received = 0;
    const auto readMissing = [&]() {
        const TransferCount got = readChunked(port, buffer + received, Wanted - received);
        received += got.count;
        return got.success;
    };
    bool readFailed = false;
    if (attempts == 0) {
        readFailed = !readMissing();
    } else {
        for (int attempt = 0; attempt < attempts && received < Wanted; ++attempt) {
            pause(port, 1);
            if (!readMissing()) {
                readFailed = true;
                break;
            }
        }
    }
    reply.received = received;
    if (readFailed) {
        reply.readFailed = true;
        purgePort(port);
        pause(port, 5);
        return reply;
    }
    reply.success = received == Wanted && isAcceptedReply(reply.packet.bytes);
    if (reply.success) {
        reply.lateBy = matchAnswer(port, reply.packet);
    }
    return reply;
}

bool sendAck(PortState& port) {
    const bool sent = sendCommand(port, ackPacket());
    pause(port, 1);
    return sent;
}

bool syncDevice(PortState& port) {
    return handshake(port).answered;
}

HandshakeResult handshake(PortState& port, int tries) {
    // A handshake starts a new conversation: a reply read from now on answers a request sent
    // from now on, never one of an earlier phase.
    port.pending.clear();
    HandshakeResult result;
    std::optional<std::chrono::nanoseconds> partAsked;
    for (int attempt = 0; attempt < tries; ++attempt) {
        ++result.tries;
        if (!sendCommand(port, syncPacket())) {
            result.sendFailed = true;
            pause(port, 5);
            return result;
        }
        const std::chrono::nanoseconds asked = port.platform.now();
        const ReplyResult ack = receiveReply(port, 1);
        result.bytesSeen += ack.received;
        const bool part = ack.received > 0 && ack.received < 6;
        result.partialReply = result.partialReply || part;
        if (ack.received > 0) {
            const std::chrono::nanoseconds now = port.platform.now();
            if (partAsked) {
                result.splitGap = std::max(result.splitGap, now - *partAsked);
            }
            partAsked = part ? std::optional(asked) : std::nullopt;
        }
        if (!isReply(ack, IdAck, IdSync)) {
            continue;
        }
        // The board follows its acknowledgement with a Sync of its own.
        const ReplyResult boardSync = receiveReply(port, 1);
        if (!boardSync.success || boardSync.packet.id() != IdSync) {
            result.bytesSeen += boardSync.received;
            continue;
        }
        result.bytesSeen = 0;
        result.partialReply = false;
        result.answered = sendAck(port);
        result.sendFailed = !result.answered;
        pause(port, 5);
        return result;
    }
    pause(port, 5);
    return result;
}

bool sendQuery(PortState& port, std::uint8_t reg, std::uint8_t value) {
    bool answered = false;
    if (sendCommand(port, queryPacket(reg, value))) {
        pause(port, 200);
        answered = isReply(receiveReply(port, 0), IdAck, IdQuery);
    }
    pause(port, 1);
    return answered;
}

StatusResult readStatus(PortState& port, std::uint8_t reg) {
    StatusResult result;
    purgePort(port);
    if (!sendQuery(port, reg, 0)) {
        return result;
    }
    if (!isReply(receiveReply(port, 0), IdData, 0x00)) {
        return result;
    }
    std::uint8_t value[2] = {};
    const TransferCount got = readChunked(port, value, 2);
    if (!got.success || got.count != 2) {
        return result;
    }
    if (!sendAck(port)) {
        return result;
    }
    result.success = true;
    result.value = static_cast<std::uint16_t>(value[0] | (value[1] << 8));
    return result;
}

}  // namespace zq
