#include <gtest/gtest.h>

#include <vector>

#include "protocol/command_packet.h"

namespace zq {
namespace {

std::vector<std::uint8_t> wire(const CommandPacket& p) {
    return {p.bytes.begin(), p.bytes.end()};
}

TEST(CommandPacket, ByteLayoutsWithLittleEndianLengths) {
    using V = std::vector<std::uint8_t>;
    EXPECT_EQ(wire(syncPacket()), (V{0xAA, 0x0D, 0, 0, 0, 0}));
    EXPECT_EQ(wire(ackPacket()), (V{0xAA, 0x0E, 0, 0, 0, 0}));
    EXPECT_EQ(wire(transferFirmwarePacket(5728)), (V{0xAA, 0x06, 0x03, 0x60, 0x16, 0x00}));
    EXPECT_EQ(wire(dataPacket(0x123456)), (V{0xAA, 0x0A, 0x03, 0x56, 0x34, 0x12}));
    EXPECT_EQ(wire(queryPacket(StatusRegister, 0)), (V{0xAA, 0x0B, 0xF2, 0, 0, 0}));
    EXPECT_EQ(wire(loaderCommand(5696)), (V{0xFF, 0x0C, 0x05, 0x40, 0x16, 0x00}));
    // Only 24 bits travel.
    EXPECT_EQ(packetLength(dataPacket(0x01ABCDEF)), 0xABCDEFu);
}

TEST(CommandPacket, AcceptanceRule) {
    using V = std::vector<std::uint8_t>;
    EXPECT_TRUE(isAcceptedReply(V{0xAA, 0x01, 0, 0, 0, 0}));
    EXPECT_TRUE(isAcceptedReply(V{0xAA, 0x0F, 9, 9, 9, 9}));
    EXPECT_FALSE(isAcceptedReply(V{0xAA, 0x00, 0, 0, 0, 0}));
    EXPECT_FALSE(isAcceptedReply(V{0xAA, 0x10, 0, 0, 0, 0}));
    EXPECT_FALSE(isAcceptedReply(V{0xAB, 0x0E, 0x0D, 0, 0, 0}));
    EXPECT_FALSE(isAcceptedReply(V{0xAA, 0x0E, 0x0D, 0, 0}));
}

}  // namespace
}  // namespace zq
