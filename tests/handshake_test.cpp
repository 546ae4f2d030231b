#include <gtest/gtest.h>

#include "protocol/packet_ops.h"
#include "support/sim_fixture.h"

namespace zq::test {
namespace {

const std::vector<std::uint8_t> SyncBytes = bytesOf({0xAA, 0x0D, 0, 0, 0, 0});
const sim::SimTime ByteTime = sim::byteTime(14400);

// The first reply window closes 1 + 24 ms after the Sync has left.
constexpr milliseconds WindowAfterWrite{25};

TEST(Handshake, SilentBoardCostsAllSixtyTries) {
    SimPort sim({.silent = true});
    sim.open();
    const sim::SimTime start = sim.now();
    EXPECT_FALSE(syncDevice(sim.port));
    EXPECT_EQ(sim.now() - start,
              60 * (sim::byteDone({}, 14400, 6) + WindowAfterWrite) + milliseconds(5));
    EXPECT_EQ(sim.line.wireFromHost(), repeat(SyncBytes, 60));
    EXPECT_TRUE(sim.calls({Kind::Purge}).empty());  // nothing is purged between tries
}

TEST(Handshake, BoardAnsweringAtOncePassesOnTheFirstTry) {
    SimPort sim;
    sim.open();
    const sim::SimTime start = sim.now();
    EXPECT_TRUE(syncDevice(sim.port));
    EXPECT_LT(sim.now() - start, milliseconds(100));
    EXPECT_EQ(sim.line.wireFromHost(), bytesOf({0xAA, 0x0D, 0, 0, 0, 0, 0xAA, 0x0E, 0, 0, 0, 0}));
    // The board's Ack of Sync and its own Sync come back to back; each read takes exactly one.
    const auto reads = sim.line.eventsOf(Kind::Read);
    ASSERT_EQ(reads.size(), 2u);
    EXPECT_EQ(reads[0]->bytes, bytesOf({0xAA, 0x0E, 0x0D, 0, 0, 0}));
    EXPECT_EQ(reads[1]->bytes, SyncBytes);
}

TEST(Handshake, ReplyOneMillisecondLateIsTakenByTheNextTry) {
    // The reply's first byte arrives 1 ms after the window closed.
    SimPort late({.replyDelay = WindowAfterWrite + milliseconds(1) - ByteTime});
    late.open();
    EXPECT_TRUE(syncDevice(late.port));
    EXPECT_EQ(late.line.board.syncsSeen(), 2);
    const auto reads = late.line.eventsOf(Kind::Read);
    ASSERT_EQ(reads.size(), 3u);
    EXPECT_TRUE(reads[0]->bytes.empty());
    EXPECT_EQ(reads[1]->bytes, bytesOf({0xAA, 0x0E, 0x0D, 0, 0, 0}));

    // A reply whose last byte arrives as the window closes is still in time.
    SimPort inTime({.replyDelay = WindowAfterWrite - 6 * ByteTime});
    inTime.open();
    EXPECT_TRUE(syncDevice(inTime.port));
    EXPECT_EQ(inTime.line.board.syncsSeen(), 1);
}

TEST(Handshake, ReplySplitByAGapOverFifteenMillisecondsIsLost) {
    SimPort split({.splitGap = milliseconds(20)});
    split.open();
    ASSERT_TRUE(sendCommand(split.port, syncPacket()));
    EXPECT_FALSE(receiveReply(split.port, 1).success);
    const auto reads = split.line.eventsOf(Kind::Read);
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0]->bytes.size(), 3u);

    SimPort shortGap({.splitGap = milliseconds(10)});
    shortGap.open();
    ASSERT_TRUE(sendCommand(shortGap.port, syncPacket()));
    EXPECT_TRUE(isReply(receiveReply(shortGap.port, 1), IdAck, IdSync));
}

// A wrong acknowledgement, or an Ack followed by anything but Sync, costs one try.
TEST(Handshake, RejectedRepliesMoveOnToTheNextTry) {
    SimPort wrongAck({.wrongAckFor = 1 << IdSync, .answerFromSync = 1});
    wrongAck.open();
    EXPECT_FALSE(syncDevice(wrongAck.port));
    EXPECT_EQ(wrongAck.line.board.syncsSeen(), 60);

    SimPort laterBoard({.answerFromSync = 5});
    laterBoard.open();
    EXPECT_TRUE(syncDevice(laterBoard.port));
    EXPECT_EQ(laterBoard.line.board.syncsSeen(), 5);
}

TEST(Handshake, WriteFailuresEndItAtOnce) {
    SimPort sim;
    sim.open();
    sim.line.faults.writeFault = [](std::span<const std::uint8_t>) {
        return std::optional<long>(-1);
    };
    const std::size_t from = sim.line.events.size();
    const sim::SimTime start = sim.now();
    EXPECT_FALSE(syncDevice(sim.port));
    EXPECT_EQ(sim.calls({Kind::Write, Kind::Purge, Kind::Sleep}, from),
              (std::vector<std::pair<Kind, std::size_t>>{
                  {Kind::Write, 6}, {Kind::Purge, 0}, {Kind::Sleep, 5}, {Kind::Sleep, 5}}));
    EXPECT_EQ(sim.now() - start, milliseconds(10));

    // The host's Ack cannot be written: no further try.
    SimPort ack;
    ack.open();
    ack.line.faults.writeFault = [](std::span<const std::uint8_t> bytes) {
        return bytes[1] == IdAck ? std::optional<long>(3) : std::nullopt;
    };
    EXPECT_FALSE(syncDevice(ack.port));
    EXPECT_EQ(ack.line.board.syncsSeen(), 1);
}

TEST(StatusRead, ValueComesLowByteFirstAndIsAcknowledged) {
    SimPort sim({.statusValue = 0x0180});
    sim.open();
    const StatusResult status = readStatus(sim.port, StatusRegister);
    EXPECT_TRUE(status.success);
    EXPECT_EQ(status.value, 0x0180);
    // The board is given 200 ms to answer the query before its reply is read.
    EXPECT_EQ(sim.line.eventsOf(Kind::Read)[0]->at - sim.line.eventsOf(Kind::Write)[0]->endedAt,
              milliseconds(200));
    EXPECT_EQ(sim.line.wireFromHost(),
              bytesOf({0xAA, 0x0B, 0xF2, 0, 0, 0, 0xAA, 0x0E, 0, 0, 0, 0}));
}

TEST(StatusRead, WrongDataReplyOrMissingValueByteFailsWithoutAck) {
    SimPort wrongReply({.dataReplyParam = 0x01});
    wrongReply.open();
    EXPECT_FALSE(readStatus(wrongReply.port, StatusRegister).success);
    EXPECT_EQ(wrongReply.line.wireFromHost(), bytesOf({0xAA, 0x0B, 0xF2, 0, 0, 0}));
    // The two value bytes are not read.
    EXPECT_EQ(wrongReply.line.eventsOf(Kind::Read).back()->asked, 6u);

    SimPort oneByte({.statusBytes = 1});
    oneByte.open();
    EXPECT_FALSE(readStatus(oneByte.port, StatusRegister).success);
    EXPECT_EQ(oneByte.line.wireFromHost(), bytesOf({0xAA, 0x0B, 0xF2, 0, 0, 0}));
}

TEST(StatusRead, UnwritableQueryFailsWithoutTheReplyWait) {
    SimPort sim;
    sim.open();
    sim.line.faults.writeFault = [](std::span<const std::uint8_t>) {
        return std::optional<long>(-1);
    };
    const sim::SimTime start = sim.now();
    EXPECT_FALSE(readStatus(sim.port, StatusRegister).success);
    // sendCommand's 5 ms after its purge, and the 1 ms before sendQuery returns.
    EXPECT_EQ(sim.now() - start, milliseconds(6));
}

}  // namespace
}  // namespace zq::test
