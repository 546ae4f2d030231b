#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace zq {

// A six-byte packet of the board's firmware protocol, sent and received as is.
struct CommandPacket {
    std::array<std::uint8_t, 6> bytes{};

    std::uint8_t lead() const { return bytes[0]; }
    std::uint8_t id() const { return bytes[1]; }
    std::uint8_t param1() const { return bytes[2]; }

    bool operator==(const CommandPacket&) const = default;
};

inline constexpr std::uint8_t PacketLead = 0xAA;
inline constexpr std::uint8_t LoaderLead = 0xFF;

// Packet ids.
inline constexpr std::uint8_t IdTransferFirmware = 0x06;
inline constexpr std::uint8_t IdData = 0x0A;
inline constexpr std::uint8_t IdQuery = 0x0B;
inline constexpr std::uint8_t IdLoader = 0x0C;
inline constexpr std::uint8_t IdSync = 0x0D;
inline constexpr std::uint8_t IdAck = 0x0E;

// The register whose value tells whether programming the EEPROM failed (bit 7).
inline constexpr std::uint8_t StatusRegister = 0xF2;
inline constexpr std::uint16_t StatusProgramFailed = 0x0080;

inline constexpr std::array<std::uint8_t, 2> WakeBytes{0xFF, 0xFF};

CommandPacket makePacket(std::uint8_t lead, std::uint8_t id, std::uint8_t p1, std::uint8_t p2,
                         std::uint8_t p3, std::uint8_t p4);
// Lengths travel in parameters 2 to 4, 24-bit little-endian.
CommandPacket makeLengthPacket(std::uint8_t lead, std::uint8_t id, std::uint8_t p1,
                               std::uint32_t length);
std::uint32_t packetLength(const CommandPacket& packet);

CommandPacket syncPacket();
CommandPacket ackPacket();
CommandPacket transferFirmwarePacket(std::uint32_t length);
CommandPacket dataPacket(std::uint32_t length);
CommandPacket queryPacket(std::uint8_t reg, std::uint8_t value);
// The download-mode loader's packet: lead 0xFF, announces `length` raw image bytes.
CommandPacket loaderCommand(std::uint32_t length);

// The packet's name as the protocol calls it ("Ack", "TransferFirmware"), or "id 0xNN".
std::string packetName(std::uint8_t id);

// A reply counts only when all six bytes came, the lead byte is 0xAA and the id is 0x01..0x0F.
bool isAcceptedReply(std::span<const std::uint8_t> bytes);

}  // namespace zq
