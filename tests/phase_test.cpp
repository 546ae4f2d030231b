// What the phases do beyond the outcome of each fault: the port a failed phase keeps for the next
// operation, the image checks made before any port is touched, and the texts of each mode.
#include <gtest/gtest.h>

#include "support/operation_fixture.h"
#include "text/messages.h"

namespace zq::test {
namespace {

// A Download whose wake bytes cannot be written keeps the port, at the phase's settings.
void holdAfterFailedWake(SimOperation& op) {
    op.line.faults.writeFault = failWritesStartingWith({0xFF, 0xFF}, 1);
    ASSERT_FALSE(op.run());
    ASSERT_TRUE(op.line.isOpen());
    EXPECT_EQ(op.line.eventsOf(Kind::Purge).size(), 3u);  // around the handshake, then this one
    op.line.faults.writeFault = nullptr;
    op.window.boxes.clear();
}

TEST(HeldPort, IsHandedBackBeforeAnotherPortIsOpened) {
    SimOperation op({.mode = sim::BoardMode::Download}, ModeDownload);
    holdAfterFailedWake(op);
    const std::size_t writesBefore = op.writes().size();
    op.job.portName = "COM2";
    EXPECT_FALSE(op.run());
    EXPECT_EQ(op.window.boxes, (std::vector<ShownBox>{errorBox(messages::CannotOpenPort)}));
    EXPECT_EQ(op.writes().size(), writesBefore);  // nothing went to the board on COM1
    EXPECT_TRUE(handedBack(op.line));
}

TEST(HeldPort, ThatCannotBeClosedKeepsAnotherPortUnopenedWithOneBox) {
    SimOperation op({.mode = sim::BoardMode::Download}, ModeDownload);
    holdAfterFailedWake(op);
    op.line.faults.closeFailures = 1000;
    op.job.portName = "COM2";
    EXPECT_FALSE(op.run());
    EXPECT_EQ(
        op.window.boxes,
        (std::vector<ShownBox>{{BoxStyle::Error, false, std::string(messages::CannotClosePort)}}));
    EXPECT_TRUE(op.line.eventsOf(Kind::OpenFailed).empty());
    EXPECT_EQ(op.line.settings().fields, sim::SimulatedLine::initialSettings().fields);
    // The request goes with the port still held, and ends once the port is let go.
    EXPECT_EQ(op.line.timerRequests(), 1);
    op.line.faults.closeFailures = 0;
    op.job.portName = "COM1";
    op.line.board.config().mode = sim::BoardMode::Update;
    op.job.mode = ModeUpdate;
    EXPECT_TRUE(op.run());
    EXPECT_EQ(op.line.eventsOf(Kind::Open).size(), 1u);
    EXPECT_TRUE(handedBack(op.line));
}

TEST(ImageChecks, ComeBeforeThePortAndLeaveAHeldPortAlone) {
    SimOperation op({.mode = sim::BoardMode::Download}, ModeDownload);
    op.job.image = {};
    EXPECT_FALSE(op.run());
    EXPECT_EQ(op.window.boxes, (std::vector<ShownBox>{errorBox(messages::MemoryNotEnough)}));
    EXPECT_TRUE(op.line.events.empty());

    // A download phase that succeeded leaves the port open for the update phase, whose image
    // checks leave it so too.
    SimOperation held({.mode = sim::BoardMode::Download}, ModeDownload);
    ASSERT_TRUE(runDownloadPhase(held.window, held.job, nullptr, held.port));
    held.job.imageLength = 9000;
    std::vector<std::uint8_t> big(9001, 0x33);
    held.job.image = big;
    EXPECT_FALSE(runUpdatePhase(held.window, held.job, nullptr, held.port));
    EXPECT_EQ(held.window.boxes, (std::vector<ShownBox>{errorBox(messages::FirmwareTooLong)}));
    EXPECT_TRUE(held.line.isOpen());
    EXPECT_EQ(held.line.settings().fields.baudRate, 14400u);
}

TEST(Messages, FollowTheModeAndAModeWithoutOneShowsNothing) {
    SimOperation advanced({}, ModeAdvancedDownload);
    EXPECT_TRUE(runUpdatePhase(advanced.window, advanced.job, nullptr, advanced.port));
    EXPECT_EQ(advanced.window.boxes,
              (std::vector<ShownBox>{plainBox(messages::Success.advancedDownload)}));

    // The board in update mode fails the download phase of an Update, which has no text for it.
    SimOperation quiet({}, ModeUpdate);
    EXPECT_FALSE(runDownloadPhase(quiet.window, quiet.job, nullptr, quiet.port));
    EXPECT_TRUE(quiet.window.boxes.empty());
}

}  // namespace
}  // namespace zq::test
