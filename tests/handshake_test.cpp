#include <gtest/gtest.h>

#include <tuple>
#include <vector>

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

// A reply counts for a try only when it comes whole inside that try's window; one that comes late
// is taken by the next try. A wrong acknowledgement costs the try.
TEST(Handshake, TriesUntilAReplyComesWholeInItsWindow) {
    using Board = sim::BoardConfig;
    const std::vector<std::tuple<const char*, Board, bool, int>> cases = {
        {"last byte as the window closes", Board{.replyDelay = WindowAfterWrite - 6 * ByteTime},
         true, 1},
        {"first byte 1 ms after it",
         Board{.replyDelay = WindowAfterWrite + milliseconds(1) - ByteTime}, true, 2},
        {"answering from the fifth Sync", Board{.answerFromSync = 5}, true, 5},
        {"wrong Ack", Board{.wrongAckFor = 1 << IdSync}, false, 60},
    };
    for (const auto& [name, board, answered, syncs] : cases) {
        SCOPED_TRACE(name);
        SimPort sim(board);
        sim.open();
        EXPECT_EQ(syncDevice(sim.port), answered);
        EXPECT_EQ(sim.line.board.syncsSeen(), syncs);
    }
}

// One split by a gap over the 15 ms interval is lost, which the operation reports as a reply not
// understood.
TEST(Handshake, ReplySplitByAGapUnderFifteenMillisecondsIsTakenWhole) {
    SimPort shortGap({.splitGap = milliseconds(10)});
    shortGap.open();
    ASSERT_TRUE(sendCommand(shortGap.port, syncPacket()));
    EXPECT_TRUE(isReply(receiveReply(shortGap.port, 1), IdAck, IdSync));
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
    for (const sim::BoardConfig& board :
         {sim::BoardConfig{.dataReplyParam = 0x01}, sim::BoardConfig{.statusBytes = 1}}) {
        SimPort sim(board);
        sim.open();
        EXPECT_FALSE(readStatus(sim.port, StatusRegister).success);
        EXPECT_EQ(sim.line.wireFromHost(), bytesOf({0xAA, 0x0B, 0xF2, 0, 0, 0}));
        // After a wrong reply the two value bytes are not read.
        EXPECT_EQ(sim.line.eventsOf(Kind::Read).back()->asked, board.statusBytes == 1 ? 2u : 6u);
    }
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
