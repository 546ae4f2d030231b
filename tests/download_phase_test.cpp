// The ways a Download can end early: the boxes shown, what reached the board, and the port.
#include <gtest/gtest.h>

#include "protocol/command_packet.h"
#include "support/operation_fixture.h"
#include "text/messages.h"

namespace zq::test {
namespace {

const sim::BoardConfig DownloadBoard{.mode = sim::BoardMode::Download};

TEST(DownloadPhase, BoardInUpdateModeGetsOnlyTheHandshake) {
    SimOperation op({}, ModeDownload);
    EXPECT_FALSE(op.run());
    EXPECT_EQ(op.window.boxes,
              (std::vector<ShownBox>{errorBox(messages::BoardInUpdateMode.download)}));
    std::vector<std::uint8_t> handshake = packetBytes(syncPacket());
    const auto ack = packetBytes(ackPacket());
    handshake.insert(handshake.end(), ack.begin(), ack.end());
    EXPECT_EQ(op.line.wireFromHost(), handshake);  // no wake bytes, no update phase
    EXPECT_LT(op.now(), milliseconds(1000));
    EXPECT_FALSE(op.open());
    EXPECT_TRUE(op.settingsRestored());
    EXPECT_TRUE(op.timeoutsRestored());

    // A mode without a message at that point fails silently.
    SimOperation quiet({}, ModeUpdate);
    EXPECT_FALSE(runDownloadPhase(quiet.window, quiet.job, nullptr, quiet.port));
    EXPECT_TRUE(quiet.window.boxes.empty());
}

TEST(DownloadPhase, PortThatCannotBeOpenedOrReadSendsAndPutsBackNothing) {
    SimOperation missing(DownloadBoard, ModeDownload);
    missing.job.portName = "COM3";
    EXPECT_FALSE(missing.run());
    EXPECT_EQ(missing.window.boxes, (std::vector<ShownBox>{errorBox(messages::CannotOpenPort)}));
    EXPECT_EQ(missing.line.timerRequests(), 0);  // the failed open's request is ended
    EXPECT_TRUE(missing.line.wireFromHost().empty());

    // Reading the settings fails: nothing has changed, nothing is put back.
    SimOperation state(DownloadBoard, ModeDownload);
    state.line.faults.getStateFails = true;
    EXPECT_FALSE(state.run());
    EXPECT_EQ(state.window.boxes, (std::vector<ShownBox>{errorBox(messages::CannotConfigPort)}));
    EXPECT_TRUE(state.calls({Kind::SetTimeouts, Kind::SetState}).empty());
    EXPECT_FALSE(state.open());
}

TEST(DownloadPhase, WakeBytesThatCannotBeWrittenLeaveThePortOpenForTheNextOperation) {
    SimOperation op(DownloadBoard, ModeDownload);
    op.line.faults.writeFault = failWritesStartingWith({0xFF, 0xFF}, 1);
    EXPECT_FALSE(op.run());
    EXPECT_EQ(op.window.boxes, (std::vector<ShownBox>{errorBox(messages::CannotUseComPort)}));
    EXPECT_TRUE(op.open());
    EXPECT_FALSE(op.settingsRestored());
    EXPECT_EQ(op.line.settings().fields.baudRate, 14400u);
    EXPECT_EQ(op.line.eventsOf(Kind::Purge).size(), 3u);  // around the handshake, then this one

    // The next operation on the same port reuses it without opening or saving again.
    op.line.faults.writeFault = nullptr;
    op.window.boxes.clear();
    EXPECT_TRUE(op.run());
    EXPECT_EQ(op.line.eventsOf(Kind::Open).size(), 1u);
    EXPECT_EQ(op.line.eventsOf(Kind::GetState).size(), 1u);
    EXPECT_EQ(op.window.boxes, (std::vector<ShownBox>{plainBox(messages::Success.download)}));
    EXPECT_TRUE(op.settingsRestored());
    EXPECT_TRUE(op.timeoutsRestored());
}

TEST(DownloadPhase, HeldPortIsHandedBackBeforeAnotherPortIsOpened) {
    SimOperation op(DownloadBoard, ModeDownload);
    op.line.faults.writeFault = failWritesStartingWith({0xFF, 0xFF}, 1);
    EXPECT_FALSE(op.run());
    ASSERT_TRUE(op.open());
    const std::size_t writesBefore = op.writes().size();

    op.job.portName = "COM2";
    op.window.boxes.clear();
    EXPECT_FALSE(op.run());
    EXPECT_EQ(op.window.boxes, (std::vector<ShownBox>{errorBox(messages::CannotOpenPort)}));
    EXPECT_EQ(op.writes().size(), writesBefore);  // nothing went to the board on COM1
    EXPECT_FALSE(op.open());
    EXPECT_TRUE(op.settingsRestored());
    EXPECT_TRUE(op.timeoutsRestored());
    EXPECT_EQ(op.line.timerRequests(), 0);
}

TEST(DownloadPhase, HeldPortThatCannotBeClosedKeepsAnotherPortUnopenedWithOneBox) {
    SimOperation op(DownloadBoard, ModeDownload);
    op.line.faults.writeFault = failWritesStartingWith({0xFF, 0xFF}, 1);
    EXPECT_FALSE(op.run());
    op.line.faults.closeFailures = 1000;
    op.job.portName = "COM2";
    op.window.boxes.clear();
    EXPECT_FALSE(op.run());
    EXPECT_EQ(
        op.window.boxes,
        (std::vector<ShownBox>{{BoxStyle::Error, false, std::string(messages::CannotClosePort)}}));
    EXPECT_TRUE(op.line.eventsOf(Kind::OpenFailed).empty());
    EXPECT_TRUE(op.settingsRestored());
    // The request goes with the port still held, and ends once the port is let go.
    EXPECT_EQ(op.line.timerRequests(), 1);
    op.line.faults.closeFailures = 0;
    op.job.portName = "COM1";
    op.line.board.config().mode = sim::BoardMode::Update;
    op.job.mode = ModeUpdate;
    EXPECT_TRUE(op.run());
    EXPECT_FALSE(op.open());
    EXPECT_EQ(op.line.timerRequests(), 0);
}

TEST(DownloadPhase, FailingCloseShowsItsBoxFirstAndKeepsTheHandle) {
    SimOperation op(DownloadBoard, ModeDownload);
    op.line.faults.writeFault = [](std::span<const std::uint8_t> bytes) -> std::optional<long> {
        return bytes.size() == 512 ? std::optional<long>(-1) : std::nullopt;
    };
    op.line.faults.closeFailures = 1;
    EXPECT_FALSE(op.run());
    EXPECT_EQ(op.window.boxes, (std::vector<ShownBox>{
                                   {BoxStyle::Error, false, std::string(messages::CannotClosePort)},
                                   errorBox(messages::LoaderTransferFail.download)}));
    EXPECT_TRUE(op.open());
    EXPECT_NE(op.port.handle, nullptr);

    // The update phase that reuses it opens nothing.
    op.line.faults.writeFault = nullptr;
    op.window.boxes.clear();
    op.line.board.config().mode = sim::BoardMode::Update;
    op.job.mode = ModeUpdate;
    EXPECT_TRUE(op.run());
    EXPECT_EQ(op.line.eventsOf(Kind::Open).size(), 1u);
    EXPECT_FALSE(op.open());
}

TEST(DownloadPhase, ImageChecksComeBeforeThePortAndLeaveAHeldPortAlone) {
    SimOperation op(DownloadBoard, ModeDownload);
    op.job.image = {};
    EXPECT_FALSE(op.run());
    EXPECT_EQ(op.window.boxes, (std::vector<ShownBox>{errorBox(messages::MemoryNotEnough)}));
    EXPECT_TRUE(op.line.events.empty());

    // A download phase that succeeded leaves the port open; an update phase whose image checks
    // fail right after it leaves it open too, and the next operation reuses it.
    SimOperation held(DownloadBoard, ModeDownload);
    ASSERT_TRUE(runDownloadPhase(held.window, held.job, nullptr, held.port));
    EXPECT_TRUE(held.open());
    held.job.imageLength = 9000;
    std::vector<std::uint8_t> big(9001, 0x33);
    held.job.image = big;
    EXPECT_FALSE(runUpdatePhase(held.window, held.job, nullptr, held.port));
    EXPECT_EQ(held.window.boxes, (std::vector<ShownBox>{errorBox(messages::FirmwareTooLong)}));
    EXPECT_TRUE(held.open());
    EXPECT_EQ(held.line.settings().fields.baudRate, 14400u);
}

}  // namespace
}  // namespace zq::test
