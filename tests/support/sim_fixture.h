#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <vector>

#include "job/transfer_job.h"
#include "serial/port_state.h"
#include "sim/simulated_line.h"
#include "support/recording_window.h"

namespace zq::test {

using Kind = sim::PortEvent::Kind;
using std::chrono::milliseconds;

// A port on the simulated line, with the board on its far end.
struct SimPort {
    explicit SimPort(sim::BoardConfig board = {}) : line(std::move(board)), port(line) {}

    // Opens and configures the port as a phase does before the handshake.
    void open() {
        ASSERT_TRUE(openPort(port, "COM1"));
        ASSERT_TRUE(initPort(port));
        ASSERT_TRUE(setLine(port, LineSpeed));
    }

    sim::SimTime now() const { return line.clock.now(); }

    // The calls of these kinds, in order, with the size asked (or the sleep in ms).
    std::vector<std::pair<Kind, std::size_t>> calls(std::initializer_list<Kind> kinds,
                                                    std::size_t from = 0) const {
        std::vector<std::pair<Kind, std::size_t>> found;
        for (std::size_t i = from; i < line.events.size(); ++i) {
            const sim::PortEvent& e = line.events[i];
            for (Kind k : kinds) {
                if (e.kind == k) {
                    found.emplace_back(e.kind, e.asked);
                }
            }
        }
        return found;
    }

    sim::SimulatedLine line;
    PortState port;
    RecordingWindow window;
};

// The port is closed, as it was found, and every timer request is paired.
inline bool handedBack(const sim::SimulatedLine& line) {
    return !line.isOpen() &&
           line.settings().fields == sim::SimulatedLine::initialSettings().fields &&
           line.timeouts() == sim::SimulatedLine::initialTimeouts() && line.timerRequests() == 0;
}

inline std::vector<std::uint8_t> bytesOf(std::initializer_list<int> values) {
    std::vector<std::uint8_t> bytes;
    for (int v : values) {
        bytes.push_back(static_cast<std::uint8_t>(v));
    }
    return bytes;
}

inline std::vector<std::uint8_t> repeat(const std::vector<std::uint8_t>& unit, int times) {
    std::vector<std::uint8_t> bytes;
    for (int i = 0; i < times; ++i) {
        bytes.insert(bytes.end(), unit.begin(), unit.end());
    }
    return bytes;
}

}  // namespace zq::test
