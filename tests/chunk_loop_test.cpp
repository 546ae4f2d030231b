#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "serial/port_state.h"
#include "support/sim_fixture.h"

namespace zq::test {
namespace {

using namespace std::chrono_literals;

std::vector<std::uint8_t> counting(std::size_t n) {
    std::vector<std::uint8_t> bytes(n);
    std::iota(bytes.begin(), bytes.end(), std::uint8_t{0});
    return bytes;
}

// Whole chunks go back to back, a short one after 1 ms; a write cut short ends the loop with
// what went (the caller compares the count), a failed one fails it.
TEST(WriteChunked, ChunksPausesCountsAndProgress) {
    using Calls = std::vector<std::pair<Kind, std::size_t>>;
    const std::pair<Kind, std::size_t> whole{Kind::Write, 512};
    const std::pair<Kind, std::size_t> pause{Kind::Sleep, 1};
    struct Case {
        std::uint32_t length;
        int spoiledCall;  // from 1; 0: none
        long leaves;      // how many bytes of it leave; negative: the call fails
        bool success;
        std::uint32_t count;
        Calls calls;
        std::vector<std::uint32_t> positions;
    };
    const std::vector<Case> cases = {
        {1000, 0, 0, true, 1000, Calls{whole, pause, {Kind::Write, 488}}, {512, 1000}},
        {1024, 0, 0, true, 1024, Calls{whole, whole}, {512, 1024}},
        {32, 0, 0, true, 32, Calls{pause, {Kind::Write, 32}}, {32}},
        {2048, 2, 300, true, 812, Calls{whole, whole}, {512, 812}},
        {1500, 2, -1, false, 512, Calls{whole, whole}, {512}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        SimPort sim;
        sim.open();
        const std::size_t from = sim.line.events.size();
        int calls = 0;
        sim.line.faults.writeFault = [&](std::span<const std::uint8_t>) -> std::optional<long> {
            return ++calls == c.spoiledCall ? std::optional<long>(c.leaves) : std::nullopt;
        };
        const std::vector<std::uint8_t> data = counting(c.length);
        RecordingProgress progress;
        const TransferCount sent = writeChunked(sim.port, data.data(), c.length, &progress);
        EXPECT_EQ(sent.success, c.success);
        EXPECT_EQ(sent.count, c.count);
        EXPECT_EQ(sim.calls({Kind::Write, Kind::Sleep}, from), c.calls);
        EXPECT_EQ(progress.positions, c.positions);
        EXPECT_EQ(sim.line.wireFromHost(),
                  std::vector<std::uint8_t>(data.begin(), data.begin() + c.count));
        if (c.leaves > 0) {
            // A write that cannot finish returns at its deadline: 512 ms + 6 ms.
            EXPECT_EQ(sim.line.events.back().endedAt - sim.line.events.back().at, 518ms);
        }
    }
}

TEST(PortLifecycle, SettingsAreAppliedOverTheSavedOnesAndPutBackExactly) {
    SimPort sim;
    sim.open();
    EXPECT_EQ(sim.line.timeouts(), FixedTimeouts);
    // Everything not set here keeps what the port had.
    DcbFields expected = sim::SimulatedLine::initialSettings().fields;
    expected.baudRate = 14400;
    expected.byteSize = 8;
    expected.parity = Parity::None;
    expected.stopBits = StopBits::One;
    expected.dtrControl = DtrControl::Enable;
    expected.rtsControl = RtsControl::Enable;
    expected.abortOnError = true;
    expected.dsrSensitivity = expected.outX = expected.inX = expected.nullStrip = false;
    EXPECT_EQ(sim.line.settings().fields, expected);

    restorePortSettings(sim.port);
    EXPECT_TRUE(closePort(sim.port, sim.window));
    EXPECT_TRUE(handedBack(sim.line));
    EXPECT_EQ(sim.line.settings().native, sim::SimulatedLine::initialSettings().native);
    EXPECT_TRUE(sim.window.boxes.empty());
}

}  // namespace
}  // namespace zq::test
