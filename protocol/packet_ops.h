#pragma once

#include <cstdint>

#include "protocol/command_packet.h"
#include "serial/port_state.h"

namespace zq {

inline constexpr int SyncTries = 60;

struct ReplyResult {
    bool success = false;
    CommandPacket packet;
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
bool sendQuery(PortState& port, std::uint8_t reg, std::uint8_t value);
StatusResult readStatus(PortState& port, std::uint8_t reg);

// True when a reply was received with the id and first parameter a caller expects.
bool isReply(const ReplyResult& reply, std::uint8_t id, std::uint8_t param1);

}  // namespace zq
