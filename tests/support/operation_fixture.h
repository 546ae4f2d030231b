#pragma once

#include <algorithm>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "image/boot_header.h"
#include "image/built_in_image.h"
#include "support/sim_fixture.h"
#include "transfer/operation.h"
#include "transfer/phases.h"

namespace zq::test {

// One operation as the window runs it, on the simulated line.
struct SimOperation : SimPort {
    SimOperation(sim::BoardConfig board, TransferMode mode) : SimPort(std::move(board)) {
        fillJob(job, mode, "COM1");
    }

    bool run() { return runOperation(window, job, &progress, port); }

    std::vector<const sim::PortEvent*> writes() const { return line.eventsOf(Kind::Write); }

    TransferJob job;
    RecordingProgress progress;
};

// Fails (or cuts short to `result` bytes) the write calls whose bytes begin with `prefix`.
inline std::function<std::optional<long>(std::span<const std::uint8_t>)> failWritesStartingWith(
    std::vector<std::uint8_t> prefix, long result = -1) {
    return [prefix, result](std::span<const std::uint8_t> bytes) -> std::optional<long> {
        if (bytes.size() >= prefix.size() &&
            std::equal(prefix.begin(), prefix.end(), bytes.begin())) {
            return result;
        }
        return std::nullopt;
    };
}

// The built-in image as the loader receives it: padded to an even length.
inline std::vector<std::uint8_t> paddedImage() {
    std::vector<std::uint8_t> image(builtInImage(), builtInImage() + BuiltInImageLength);
    image.push_back(0);
    return image;
}

inline std::vector<std::uint8_t> packetBytes(const CommandPacket& packet) {
    return {packet.bytes.begin(), packet.bytes.end()};
}

}  // namespace zq::test
