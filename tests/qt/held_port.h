#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "sim/simulated_line.h"

namespace zq::test {

// The line takes no wake bytes: a Download that meets a board in download mode fails there and
// leaves the port open at the download settings, as the next operation would reuse it.
inline void refuseWakeBytes(sim::SimulatedLine& line) {
    line.faults.writeFault = [](std::span<const std::uint8_t> bytes) -> std::optional<long> {
        if (bytes.size() == 2 && bytes[0] == 0xFF && bytes[1] == 0xFF) {
            return -1;
        }
        return std::nullopt;
    };
}

}  // namespace zq::test
