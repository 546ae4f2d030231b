// The ways an Update can end: the boxes shown, what reached the board, the time it took and the
// port afterwards.
#include <gtest/gtest.h>

#include "protocol/command_packet.h"
#include "support/operation_fixture.h"
#include "text/messages.h"

namespace zq::test {
namespace {

bool handedBack(const SimOperation& op) {
    return !op.open() && op.settingsRestored() && op.timeoutsRestored() &&
           op.line.timerRequests() == 0;
}

std::size_t countPacketsWithId(const std::vector<std::uint8_t>& wire, std::uint8_t id) {
    std::size_t n = 0;
    for (std::size_t i = 0; i + 1 < wire.size(); ++i) {
        n += wire[i] == 0xAA && wire[i + 1] == id ? 1 : 0;
    }
    return n;
}

TEST(UpdatePhase, SucceedsWithTheHeaderInFront) {
    SimOperation op({.statusValue = 0x0100}, ModeUpdate);
    EXPECT_TRUE(op.run());
    EXPECT_EQ(op.window.boxes, (std::vector<ShownBox>{plainBox(messages::Success.update)}));
    std::vector<std::uint8_t> payload(BootHeader.begin(), BootHeader.end());
    const std::vector<std::uint8_t> image = paddedImage();
    payload.insert(payload.end(), image.begin(), image.end());
    EXPECT_EQ(op.line.board.programmedPayload(), payload);
    EXPECT_TRUE(handedBack(op));
}

TEST(UpdatePhase, SilentBoardGetsTheChecklist) {
    SimOperation op({.silent = true}, ModeUpdate);
    EXPECT_FALSE(op.run());
    EXPECT_EQ(op.window.boxes,
              (std::vector<ShownBox>{errorBox(messages::BoardNotAnswering.update)}));
    EXPECT_EQ(op.line.wireFromHost(), repeat(packetBytes(syncPacket()), 60));
    EXPECT_TRUE(handedBack(op));
}

TEST(UpdatePhase, PacketsThatCannotBeWritten) {
    struct Case {
        std::vector<std::uint8_t> prefix;
        std::string_view box;
    };
    for (const Case& c : {Case{{0xAA, 0x06}, messages::CannotUseComPort},
                          Case{{0xAA, 0x0A}, messages::CannotUsePort}}) {
        SimOperation op({}, ModeUpdate);
        op.line.faults.writeFault = failWritesStartingWith(c.prefix);
        EXPECT_FALSE(op.run());
        EXPECT_EQ(op.window.boxes, (std::vector<ShownBox>{errorBox(c.box)}));
        EXPECT_TRUE(op.line.board.programmedPayload().empty());
        EXPECT_TRUE(handedBack(op));
    }
}

TEST(UpdatePhase, MissingWrongOrLateAcknowledgementOfTransferFirmware) {
    SimOperation missing({.unansweredIds = 1 << IdTransferFirmware}, ModeUpdate);
    SimOperation wrong({.wrongAckFor = 1 << IdTransferFirmware}, ModeUpdate);
    for (SimOperation* op : {&missing, &wrong}) {
        EXPECT_FALSE(op->run());
        EXPECT_EQ(op->window.boxes,
                  (std::vector<ShownBox>{errorBox(messages::AfterTransferFirmwareCommand)}));
        EXPECT_EQ(countPacketsWithId(op->line.wireFromHost(), IdData), 0u);
        EXPECT_TRUE(handedBack(*op));
    }
}

TEST(UpdatePhase, ShortPayloadWriteIsASendFailure) {
    // The header goes whole, the second image chunk only in part.
    SimOperation image({}, ModeUpdate);
    int chunks = 0;
    image.line.faults.writeFault = [&](std::span<const std::uint8_t> b) -> std::optional<long> {
        return b.size() == 512 && ++chunks == 2 ? std::optional<long>(100) : std::nullopt;
    };
    // The header itself cannot be written.
    SimOperation header({}, ModeUpdate);
    header.line.faults.writeFault =
        failWritesStartingWith({BootHeader.begin(), BootHeader.end()}, 31);
    for (SimOperation* op : {&image, &header}) {
        EXPECT_FALSE(op->run());
        EXPECT_EQ(op->window.boxes,
                  (std::vector<ShownBox>{errorBox(messages::PayloadSendFail.update)}));
        EXPECT_EQ(countPacketsWithId(op->line.wireFromHost(), IdQuery), 0u);
        EXPECT_TRUE(handedBack(*op));
    }
    EXPECT_EQ(image.line.board.programmedPayload().size(), 32u + 512 + 100);
}

TEST(UpdatePhase, MissingAcknowledgementOfDataFailsWithoutTheWait) {
    SimOperation missing({.unansweredIds = 1 << IdData}, ModeUpdate);
    SimOperation wrong({.wrongAckFor = 1 << IdData}, ModeUpdate);
    for (SimOperation* op : {&missing, &wrong}) {
        EXPECT_FALSE(op->run());
        EXPECT_EQ(op->window.boxes,
                  (std::vector<ShownBox>{errorBox(messages::PayloadNotAcknowledged.update)}));
        EXPECT_LT(op->now(), milliseconds(5000));
        EXPECT_TRUE(handedBack(*op));
    }
}

TEST(UpdatePhase, QueryThatCannotBeWrittenFailsAboutSixSecondsAfterTheAck) {
    SimOperation op({}, ModeUpdate);
    op.line.faults.writeFault = failWritesStartingWith({0xAA, 0x0B});
    EXPECT_FALSE(op.run());
    EXPECT_EQ(op.window.boxes, (std::vector<ShownBox>{errorBox(messages::EepromProgramFail)}));
    const auto reads = op.line.eventsOf(Kind::Read);
    const sim::PortEvent* dataAck = reads.back();
    ASSERT_EQ(dataAck->bytes, (std::vector<std::uint8_t>{0xAA, 0x0E, 0x0A, 0, 0, 0}));
    // 5000 ms, the 5 ms after the failed write, 1 ms in the query, 1000 ms: no 200 ms wait.
    const sim::PortEvent* close = op.line.eventsOf(Kind::Close).back();
    EXPECT_EQ(close->at - dataAck->endedAt, milliseconds(5000 + 5 + 1 + 1000));
    EXPECT_TRUE(handedBack(op));
}

TEST(UpdatePhase, FailingCloseShowsItsBoxBeforeThePhasesAndAfterPreparations) {
    SimOperation good({}, ModeUpdate);
    good.line.faults.closeFailures = 1;
    EXPECT_TRUE(good.run());
    const ShownBox closeBox{BoxStyle::Error, false, std::string(messages::CannotClosePort)};
    EXPECT_EQ(good.window.boxes,
              (std::vector<ShownBox>{closeBox, plainBox(messages::Success.update)}));
    EXPECT_TRUE(good.open());

    SimOperation silent({.silent = true}, ModeUpdate);
    silent.line.faults.closeFailures = 1;
    EXPECT_FALSE(silent.run());
    EXPECT_EQ(silent.window.boxes,
              (std::vector<ShownBox>{errorBox(messages::BoardNotAnswering.update), closeBox}));
    EXPECT_NE(silent.port.handle, nullptr);
}

TEST(UpdatePhase, MessagesFollowTheMode) {
    SimOperation advanced({.statusValue = 0}, ModeUpdate);
    advanced.job.mode = ModeAdvancedDownload;
    EXPECT_TRUE(runUpdatePhase(advanced.window, advanced.job, nullptr, advanced.port));
    EXPECT_EQ(advanced.window.boxes,
              (std::vector<ShownBox>{plainBox(messages::Success.advancedDownload)}));
}

}  // namespace
}  // namespace zq::test
