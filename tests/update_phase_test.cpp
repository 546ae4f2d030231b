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
