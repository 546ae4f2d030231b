// A window that answers its desktop during an operation's waits must not change the operation:
// the same bytes at the same virtual times, the same pauses, the same outcome; and the answers
// come between the slices of the long pauses.
#include <gtest/gtest.h>

#include <chrono>
#include <tuple>
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
    std::vector<zq::sim::PortEvent> events;  // every port call and pause, with its times
    std::vector<zq::test::ShownBox> boxes;
    std::vector<SimTime> answers;
};

Outcome run(zq::TransferMode mode, zq::sim::BoardMode board, bool answering) {
    SimulatedLine line({.mode = board});
    Outcome out;
    zq::ResponsivePlatform responsive(line, [&] { out.answers.push_back(line.clock.now()); });
    zq::WindowSession session(answering ? static_cast<zq::Platform&>(responsive) : line);
    zq::test::RecordingWindow window;
    session.run(window, mode, "COM1", nullptr);
    out.events = line.events;
    out.boxes = window.boxes;
    return out;
}

// The answers come between slices of the long pauses, so the line sees longer pauses cut into
// slices and nothing else changed.
TEST(ResponsivePlatform, AnsweringChangesNothingOnTheWire) {
    for (auto [mode, board] : {std::pair{zq::ModeDownload, zq::sim::BoardMode::Download},
                               std::pair{zq::ModeUpdate, zq::sim::BoardMode::Update},
                               std::pair{zq::ModeDownload, zq::sim::BoardMode::Update}}) {
        const Outcome plain = run(mode, board, false);
        const Outcome answering = run(mode, board, true);
        const auto calls = [](const Outcome& o) {
            std::vector<std::tuple<PortEvent::Kind, SimTime, std::vector<std::uint8_t>>> calls;
            for (const PortEvent& e : o.events) {
                if (e.kind != PortEvent::Kind::Sleep) {
                    calls.emplace_back(e.kind, e.at, e.bytes);
                }
            }
            return calls;
        };
        EXPECT_EQ(calls(answering), calls(plain));
        EXPECT_EQ(answering.events.back().endedAt, plain.events.back().endedAt);
        EXPECT_EQ(answering.boxes, plain.boxes);
        EXPECT_TRUE(plain.answers.empty());
        EXPECT_FALSE(answering.answers.empty());
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
