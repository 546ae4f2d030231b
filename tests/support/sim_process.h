#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/child_process.h"

#ifndef ZQ417_SIM_PATH
#error "ZQ417_SIM_PATH must name the zq417-sim executable"
#endif

namespace zq::test {

// zq417-sim as a child process; its standard error stays the test's.
class SimProcess : public ChildProcess {
  public:
    explicit SimProcess(std::vector<std::string> args)
        : ChildProcess(ZQ417_SIM_PATH, std::move(args), false) {
        raisePriority();
    }

    // The device its first line names; empty when no such line came in time.
    std::string devicePath(std::chrono::milliseconds limit = std::chrono::seconds(5)) {
        const std::optional<std::string> line = readLine(limit);
        const std::size_t on = line ? line->rfind(" on /") : std::string::npos;
        return on == std::string::npos ? std::string() : line->substr(on + 4);
    }
};

// Reads the board's log until a line holding `text` comes.
inline bool awaitLog(SimProcess& sim, std::string_view text,
                     std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + limit;
    while (const auto logLine =
               sim.readLine(duration_cast<milliseconds>(deadline - steady_clock::now()))) {
        if (logLine->find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

}  // namespace zq::test
