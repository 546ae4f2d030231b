// zq417-flash watch as a station runs it, against zq417-sim boards started one after another and
// found as the virtual boards they announce: real processes in real time, with generous bounds
// for a busy machine.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "support/image_files.h"
#include "support/sim_process.h"

namespace zq::test {
namespace {

using namespace std::chrono_literals;

std::vector<std::string> linesOf(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

struct Station : ::testing::Test {
    // The boards announce themselves, and the watch looks for them, here only.
    void SetUp() override { ::setenv("XDG_RUNTIME_DIR", runtime.path.c_str(), 1); }
    void TearDown() override { ::unsetenv("XDG_RUNTIME_DIR"); }

    struct Board {
        std::unique_ptr<SimProcess> sim;
        std::string device;
    };
    static Board plug() {
        auto sim = std::make_unique<SimProcess>(
            std::vector<std::string>{"--mode", "update", "--no-pacing"});
        std::string device = sim->devicePath();
        EXPECT_FALSE(device.empty());
        return {std::move(sim), device};
    }

    TempDir runtime;
    TempDir work;
    std::filesystem::path log = work.path / "results.jsonl";
};

// Each board is flashed once, though the first stays plugged past its result; every result is on
// standard output and, the same line, in the log.
TEST_F(Station, BoardsPluggedOneAfterAnotherAreEachFlashedOnceAndLogged) {
    ChildProcess watch(ZQ417_FLASH_PATH, {"watch", "--count", "3", "--json", "--log", log.string()},
                       true);
    std::vector<Board> boards;
    boards.push_back(plug());
    const std::optional<std::string> first = watch.readLine(30s);
    ASSERT_TRUE(first) << watch.err();
    boards.push_back(plug());
    boards.push_back(plug());
    ASSERT_EQ(watch.waitForExit(60s), 0) << watch.err();

    const std::vector<std::string> logged = linesOf(log);
    ASSERT_EQ(logged.size(), 3u);
    EXPECT_EQ(logged.front(), *first);
    for (std::size_t k = 0; k < boards.size(); ++k) {
        const std::string& device = boards[k].device;
        EXPECT_NE(watch.out().find("\"port\":\"" + device + "\""), std::string::npos);
        EXPECT_NE(watch.err().find("watch: board on " + device), std::string::npos) << watch.err();
        const nlohmann::json result = nlohmann::json::parse(logged[k]);
        EXPECT_EQ(result["ok"], true) << logged[k];
        EXPECT_NE(watch.out().find(logged[k]), std::string::npos);
    }
    for (Board& board : boards) {
        board.sim->stop();
        const std::string& said = board.sim->out();
        const std::string took = "Data: 5728 bytes received, acknowledged";
        ASSERT_NE(said.find(took), std::string::npos) << said;
        EXPECT_EQ(said.find(took, said.find(took) + 1), std::string::npos) << said;
    }
}

// A station killed outright while a board runs loses at most that board's line: every line of
// the boards that finished is whole, and the log is appended to, never rewritten.
TEST_F(Station, AKilledWatchLeavesEveryFinishedBoardsLineWhole) {
    { std::ofstream(log) << "{\"earlier\":true}\n"; }
    ChildProcess watch(ZQ417_FLASH_PATH, {"watch", "--json", "--log", log.string()}, true);
    std::vector<Board> boards;
    boards.push_back(plug());
    ASSERT_TRUE(watch.readLine(30s)) << watch.err();
    boards.push_back(plug());
    // Killed well inside the second board's run, which waits 6 s for its EEPROM.
    EXPECT_FALSE(watch.readLine(1500ms)) << watch.out();
    watch.signal(SIGKILL);
    watch.waitForExit(10s);

    const std::vector<std::string> logged = linesOf(log);
    ASSERT_EQ(logged.size(), 2u);
    EXPECT_EQ(logged[0], "{\"earlier\":true}");
    EXPECT_EQ(nlohmann::json::parse(logged[1])["ok"], true) << logged[1];
}

}  // namespace
}  // namespace zq::test
