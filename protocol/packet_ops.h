#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

#include "protocol/command_packet.h"
#include "serial/port_state.h"

namespace zq {

inline constexpr int SyncTries = 60;

struct ReplyResult {
    bool success = false;
    CommandPacket packet;
    std::uint32_t received = 0;  // bytes of `packet` that came within the reply's window
    bool readFailed = false;     // the port refused a read: its reason is the port's lastFault
    // The packet answers a request sent before the latest one: it came after its own window and
    // was read now, this long after that request left.
    std::optional<std::chrono::nanoseconds> lateBy{};
};

// What came back for a request whose reply was not the one wanted, for an outcome to name.
struct ReplyEvidence {
    std::uint8_t expectedId = 0;     // the packet that was wanted
    std::uint8_t expectedParam = 0;  // and its first parameter
    std::uint32_t received = 0;      // 0 to 6 bytes
    CommandPacket got{};             // the first `received` of them
    bool readFailed = false;
    bool accepted = false;                             // the six bytes make a packet
    std::optional<std::chrono::nanoseconds> lateBy{};  // see ReplyResult
};

// How the handshake went: the board's firmware answers it; the loader says nothing at all.
struct HandshakeResult {
    bool answered = false;
    int tries = 0;                // Sync packets sent
    std::uint32_t bytesSeen = 0;  // bytes that came back without making a handshake
    bool partialReply = false;    // some of them came as part of a packet, the rest too late
    // How far apart the parts of a reply came, at most: from the start of the read that got part
    // of one to the end of the next read that got bytes, which the rest cannot have come after.
    // The longest seen; kept when the handshake was made at last, as later replies come the same
    // way.
    std::chrono::nanoseconds splitGap{0};
    bool sendFailed = false;  // a Sync could not be written: its reason is the port's lastFault
};

struct StatusResult {
    bool success = false;
    std::uint16_t value = 0;
};

// None of these shows a message; each works on the open port.
bool sendCommand(PortState& port, const CommandPacket& packet);
ReplyResult receiveReply(PortState& port, int attempts);
bool sendAck(PortState& port);
bool syncDevice(PortState& port);
// syncDevice with what it saw, for a caller that must tell silence from noise. A caller that only
// asks whether a board is there gives up after fewer tries.
HandshakeResult handshake(PortState& port, int tries = SyncTries);
bool sendQuery(PortState& port, std::uint8_t reg, std::uint8_t value);
StatusResult readStatus(PortState& port, std::uint8_t reg);

// True when a reply was received with the id and first parameter a caller expects.
bool isReply(const ReplyResult& reply, std::uint8_t id, std::uint8_t param1);

// What a reply that is not the one expected showed.
ReplyEvidence replyEvidence(const ReplyResult& reply, std::uint8_t id, std::uint8_t param1);

}  // namespace zq
