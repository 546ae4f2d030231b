#include "protocol/command_packet.h"

#include <cstdio>

namespace zq {

CommandPacket makePacket(std::uint8_t lead, std::uint8_t id, std::uint8_t p1, std::uint8_t p2,
                         std::uint8_t p3, std::uint8_t p4) {
    return CommandPacket{{lead, id, p1, p2, p3, p4}};
}

CommandPacket makeLengthPacket(std::uint8_t lead, std::uint8_t id, std::uint8_t p1,
                               std::uint32_t length) {
    return makePacket(lead, id, p1, static_cast<std::uint8_t>(length & 0xFF),
                      static_cast<std::uint8_t>((length >> 8) & 0xFF),
                      static_cast<std::uint8_t>((length >> 16) & 0xFF));
}

std::uint32_t packetLength(const CommandPacket& packet) {
    return packet.bytes[3] | (packet.bytes[4] << 8) | (packet.bytes[5] << 16);
}

CommandPacket syncPacket() {
    return makePacket(PacketLead, IdSync, 0, 0, 0, 0);
}
CommandPacket ackPacket() {
    return makePacket(PacketLead, IdAck, 0, 0, 0, 0);
}

CommandPacket transferFirmwarePacket(std::uint32_t length) {
    return makeLengthPacket(PacketLead, IdTransferFirmware, 0x03, length);
}

CommandPacket dataPacket(std::uint32_t length) {
    return makeLengthPacket(PacketLead, IdData, 0x03, length);
}

CommandPacket queryPacket(std::uint8_t reg, std::uint8_t value) {
    return makePacket(PacketLead, IdQuery, reg, value, 0, 0);
}

CommandPacket loaderCommand(std::uint32_t length) {
    return makeLengthPacket(LoaderLead, IdLoader, 0x05, length);
}

bool isAcceptedReply(std::span<const std::uint8_t> bytes) {
    return bytes.size() == 6 && bytes[0] == PacketLead && bytes[1] >= 0x01 && bytes[1] <= 0x0F;
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
            std::snprintf(text, sizeof text, "id 0x%02X", static_cast<unsigned>(id));
            return text;
        }
    }
}

}  // namespace zq
