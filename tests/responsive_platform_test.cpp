// A window that answers its desktop during an operation's waits must not change the operation:
// the same bytes at the same virtual times, the same pauses, the same outcome; and the answers
// come through the 5 s before the status query, never more than a slice apart.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "serial/responsive_platform.h"
#include "sim/simulated_line.h"
#include "support/recording_window.h"
#include "transfer/operation.h"

namespace {

using namespace std::chrono_literals;
using zq::sim::PortEvent;
using zq::sim::SimTime;
using zq::sim::SimulatedLine;

struct Outcome {
    std::vector<std::uint8_t> wire;
    std::vector<SimTime> writesAt;
    SimTime end{};
    std::vector<std::string> boxes;
    std::vector<SimTime> answers;
    std::vector<std::pair<SimTime, SimTime>> longPauses;  // begun and ended, 50 ms or more
};

Outcome run(zq::TransferMode mode, zq::sim::BoardMode board, bool answering) {
    SimulatedLine line({.mode = board});
    Outcome out;
    zq::ResponsivePlatform responsive(line, [&] { out.answers.push_back(line.clock.now()); });
    zq::WindowSession session(answering ? static_cast<zq::Platform&>(responsive) : line);
    zq::test::RecordingWindow window;
    session.run(window, mode, "COM1", nullptr);
    out.wire = line.wireFromHost();
    for (const PortEvent* e : line.eventsOf(PortEvent::Kind::Write)) {
        out.writesAt.push_back(e->at);
    }
    for (const PortEvent* e : line.eventsOf(PortEvent::Kind::Sleep)) {
        if (e->endedAt - e->at >= 50ms) {
            out.longPauses.emplace_back(e->at, e->endedAt);
        }
    }
    out.end = line.clock.now();
    for (const zq::test::ShownBox& box : window.boxes) {
        out.boxes.push_back(box.text);
    }
    return out;
}

TEST(ResponsivePlatform, AnsweringChangesNothingOnTheWire) {
    for (auto [mode, board] : {std::pair{zq::ModeDownload, zq::sim::BoardMode::Download},
                               std::pair{zq::ModeUpdate, zq::sim::BoardMode::Update},
                               std::pair{zq::ModeDownload, zq::sim::BoardMode::Update}}) {
        const Outcome plain = run(mode, board, false);
        const Outcome answering = run(mode, board, true);
        EXPECT_EQ(answering.wire, plain.wire);
        EXPECT_EQ(answering.writesAt, plain.writesAt);
        EXPECT_EQ(answering.end, plain.end);
        EXPECT_EQ(answering.boxes, plain.boxes);
        EXPECT_TRUE(plain.answers.empty());
        EXPECT_FALSE(answering.answers.empty());
    }
}

TEST(ResponsivePlatform, TheStatusWaitIsAnsweredEverySlice) {
    const Outcome out = run(zq::ModeUpdate, zq::sim::BoardMode::Update, true);
    ASSERT_EQ(out.boxes.size(), 1u);
    // The 5 s wait and the 1 s after the query, in slices.
    ASSERT_FALSE(out.longPauses.empty());
    for (const auto& [begun, ended] : out.longPauses) {
        EXPECT_LE(ended - begun, zq::ResponsivePlatform::Slice);
    }
    const SimTime waitBegan = out.longPauses.front().first;
    const SimTime waitEnded = waitBegan + 5000ms;
    std::vector<SimTime> inWait;
    std::copy_if(out.answers.begin(), out.answers.end(), std::back_inserter(inWait),
                 [&](SimTime t) { return t >= waitBegan && t <= waitEnded; });
    ASSERT_GE(inWait.size(), 100u);
    EXPECT_EQ(inWait.front(), waitBegan);
    for (std::size_t i = 1; i < inWait.size(); ++i) {
        EXPECT_LE(inWait[i] - inWait[i - 1], zq::ResponsivePlatform::Slice);
    }
}

TEST(ResponsivePlatform, ShortPausesAreLeftWhole) {
    SimulatedLine line;
    int answers = 0;
    zq::ResponsivePlatform responsive(line, [&] { ++answers; });
    responsive.sleep(5ms);
    responsive.sleep(99ms);
    EXPECT_EQ(answers, 0);
    ASSERT_EQ(line.eventsOf(PortEvent::Kind::Sleep).size(), 2u);
    EXPECT_EQ(line.clock.now(), SimTime(104ms));
    responsive.sleep(120ms);
    EXPECT_EQ(line.clock.now(), SimTime(224ms));
    EXPECT_EQ(answers, 4);  // before each of the slices of 50, 50 and 20 ms, and at the end
}

}  // namespace
