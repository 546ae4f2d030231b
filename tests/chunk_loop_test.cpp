#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "serial/port_state.h"
#include "support/sim_fixture.h"

namespace zq::test {
namespace {

std::vector<std::uint8_t> counting(std::size_t n) {
    std::vector<std::uint8_t> bytes(n);
    std::iota(bytes.begin(), bytes.end(), std::uint8_t{0});
    return bytes;
}

TEST(WriteChunked, ShortLastChunkComesAfterOneMillisecond) {
    SimPort sim;
    sim.open();
    const std::size_t from = sim.line.events.size();
    const std::vector<std::uint8_t> data = counting(1000);
    RecordingProgress progress;
    const TransferCount sent = writeChunked(sim.port, data.data(), 1000, &progress);
    EXPECT_TRUE(sent.success);
    EXPECT_EQ(sent.count, 1000u);
    EXPECT_EQ(sim.calls({Kind::Write, Kind::Sleep}, from),
              (std::vector<std::pair<Kind, std::size_t>>{
                  {Kind::Write, 512}, {Kind::Sleep, 1}, {Kind::Write, 488}}));
    EXPECT_EQ(progress.positions, (std::vector<std::uint32_t>{512, 1000}));
    EXPECT_EQ(sim.line.wireFromHost(), data);
}

TEST(WriteChunked, WholeChunksGoWithoutPauseAndSmallOnesAfterOne) {
    SimPort sim;
    sim.open();
    std::size_t from = sim.line.events.size();
    const std::vector<std::uint8_t> data = counting(1024);
    EXPECT_EQ(writeChunked(sim.port, data.data(), 1024, nullptr).count, 1024u);
    EXPECT_EQ(sim.calls({Kind::Write, Kind::Sleep}, from),
              (std::vector<std::pair<Kind, std::size_t>>{{Kind::Write, 512}, {Kind::Write, 512}}));

    from = sim.line.events.size();
    RecordingProgress progress;
    EXPECT_EQ(writeChunked(sim.port, data.data(), 32, &progress).count, 32u);
    EXPECT_EQ(sim.calls({Kind::Write, Kind::Sleep}, from),
              (std::vector<std::pair<Kind, std::size_t>>{{Kind::Sleep, 1}, {Kind::Write, 32}}));
    EXPECT_EQ(progress.positions, (std::vector<std::uint32_t>{32}));
}

TEST(WriteChunked, ShortWriteEndsTheLoopWithThePartialCount) {
    SimPort sim;
    sim.open();
    int calls = 0;
    sim.line.faults.writeFault = [&](std::span<const std::uint8_t>) -> std::optional<long> {
        return ++calls == 2 ? std::optional<long>(300) : std::nullopt;
    };
    const std::vector<std::uint8_t> data = counting(2048);
    RecordingProgress progress;
    const TransferCount sent = writeChunked(sim.port, data.data(), 2048, &progress);
    EXPECT_TRUE(sent.success);  // the caller must compare the count
    EXPECT_EQ(sent.count, 812u);
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(progress.positions, (std::vector<std::uint32_t>{512, 812}));
    // A write that cannot finish returns at its deadline: 512 ms + 6 ms.
    EXPECT_EQ(sim.line.events.back().endedAt - sim.line.events.back().at, milliseconds(518));
}

TEST(WriteChunked, FailingWriteCallReportsFailureWithWhatWentBefore) {
    SimPort sim;
    sim.open();
    int calls = 0;
    sim.line.faults.writeFault = [&](std::span<const std::uint8_t>) -> std::optional<long> {
        return ++calls == 2 ? std::optional<long>(-1) : std::nullopt;
    };
    const std::vector<std::uint8_t> data = counting(1500);
    const TransferCount sent = writeChunked(sim.port, data.data(), 1500, nullptr);
    EXPECT_FALSE(sent.success);
    EXPECT_EQ(sent.count, 512u);
}

TEST(ReadChunked, NothingComingIsSuccessWithNoBytesAfterTheTotalTimeout) {
    SimPort sim;
    sim.open();
    const sim::SimTime before = sim.now();
    std::uint8_t buffer[6];
    const TransferCount got = readChunked(sim.port, buffer, 6);
    EXPECT_TRUE(got.success);
    EXPECT_EQ(got.count, 0u);
    EXPECT_EQ(sim.now() - before, milliseconds(6 + 3 * 6));
}

TEST(PortLifecycle, SettingsAreAppliedOverTheSavedOnesAndPutBackExactly) {
    SimPort sim;
    sim.open();
    EXPECT_EQ(sim.line.timeouts(), FixedTimeouts);
    const DcbFields& applied = sim.line.settings().fields;
    EXPECT_EQ(applied.baudRate, 14400u);
    EXPECT_EQ(applied.byteSize, 8);
    EXPECT_EQ(applied.parity, Parity::None);
    EXPECT_EQ(applied.stopBits, StopBits::One);
    EXPECT_EQ(applied.dtrControl, DtrControl::Enable);
    EXPECT_EQ(applied.rtsControl, RtsControl::Enable);
    EXPECT_TRUE(applied.abortOnError);
    EXPECT_FALSE(applied.dsrSensitivity || applied.outX || applied.inX || applied.nullStrip);
    // Everything else keeps what the port had.
    const DcbFields& found = sim::SimulatedLine::initialSettings().fields;
    EXPECT_EQ(applied.parityCheck, found.parityCheck);
    EXPECT_EQ(applied.outxCtsFlow, found.outxCtsFlow);
    EXPECT_EQ(applied.xonLim, found.xonLim);
    EXPECT_EQ(applied.xoffLim, found.xoffLim);

    restorePortSettings(sim.port);
    EXPECT_TRUE(closePort(sim.port, sim.window));
    EXPECT_EQ(sim.line.settings().fields, found);
    EXPECT_EQ(sim.line.settings().native, sim::SimulatedLine::initialSettings().native);
    EXPECT_EQ(sim.line.timeouts(), sim::SimulatedLine::initialTimeouts());
    EXPECT_FALSE(sim.line.isOpen());
    EXPECT_EQ(sim.line.timerRequests(), 0);
    EXPECT_TRUE(sim.window.boxes.empty());
}

TEST(PortLifecycle, QueueFailurePutsTheTimeoutsBackAndOtherFailuresDoNot) {
    SimPort queues;
    queues.line.faults.setupQueuesFails = true;
    ASSERT_TRUE(openPort(queues.port, "COM1"));
    EXPECT_FALSE(initPort(queues.port));
    EXPECT_EQ(queues.line.timeouts(), sim::SimulatedLine::initialTimeouts());

    SimPort state;
    state.line.faults.getStateFails = true;
    ASSERT_TRUE(openPort(state.port, "COM1"));
    EXPECT_FALSE(initPort(state.port));
    EXPECT_TRUE(state.calls({Kind::SetTimeouts}).empty());
}

TEST(PortLifecycle, CloseEndsTheTimerRequestEvenWithoutAPortAndReportsItsOwnFailure) {
    SimPort sim;
    EXPECT_FALSE(openPort(sim.port, "COM7"));
    EXPECT_EQ(sim.port.lastOpenFailure.kind, OpenFailure::Kind::NoSuchDevice);
    EXPECT_EQ(sim.line.timerRequests(), 1);
    EXPECT_FALSE(closePort(sim.port, sim.window));
    EXPECT_EQ(sim.line.timerRequests(), 0);
    EXPECT_FALSE(closePort(sim.port, sim.window));
    EXPECT_EQ(sim.line.timerRequests(), -1);  // unpaired, as the close is made every time
    EXPECT_TRUE(sim.window.boxes.empty());

    SimPort failing;
    failing.line.faults.closeFailures = 1;
    failing.open();
    EXPECT_FALSE(closePort(failing.port, failing.window));
    EXPECT_EQ(failing.window.boxes,
              (std::vector<ShownBox>{
                  {BoxStyle::Error, false, "Can Not Close Port!\nPlease Exit Application!"}}));
    EXPECT_TRUE(failing.port.handle != nullptr);  // the next operation reuses it
    EXPECT_TRUE(closePort(failing.port, failing.window));
    EXPECT_FALSE(failing.line.isOpen());
}

}  // namespace
}  // namespace zq::test
