// zq417-flash watch as a station runs it, against zq417-sim boards plugged while it runs and
// found as the virtual boards they announce: real processes in real time, with generous bounds
// for a busy machine.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
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

    SimProcess& plug() {
        boards.push_back(std::make_unique<SimProcess>(
            std::vector<std::string>{"--mode", "update", "--no-pacing"}));
        devices.push_back(boards.back()->devicePath());
        EXPECT_FALSE(devices.back().empty());
        return *boards.back();
    }

    TempDir runtime;
    TempDir work;
    std::filesystem::path log = work.path / "results.jsonl";
    std::vector<std::unique_ptr<SimProcess>> boards;
    std::vector<std::string> devices;
};

// The later boards come while the first one runs, so the watch can only learn of them from the
// plug events. Every result is on standard output and, the same line, in the log.
TEST_F(Station, BoardsPluggedOneAfterAnotherAreEachFlashedOnceAndLogged) {
    ChildProcess watch(ZQ417_FLASH_PATH, {"watch", "--count", "3", "--json", "--log", log.string()},
                       true);
    ASSERT_TRUE(awaitLog(plug(), "Sync #")) << watch.err();
    plug();
    plug();
    ASSERT_EQ(watch.waitForExit(60s), 0) << watch.err();
    const std::vector<std::string> logged = linesOf(log);
    ASSERT_EQ(logged.size(), 3u);
    EXPECT_EQ(std::ranges::count(watch.out(), '\n'), 4) << "a line per board, then the summary";
    for (std::size_t k = 0; k < logged.size(); ++k) {
        EXPECT_NE(watch.out().find(logged[k] + "\n"), std::string::npos) << logged[k];
        EXPECT_NE(watch.out().find("\"port\":\"" + devices[k] + "\""), std::string::npos);
    }
}

// A station killed outright while a board runs loses at most that board's line: every line of
// the boards that finished is whole, and the log is appended to, never rewritten.
TEST_F(Station, AKilledWatchLeavesEveryFinishedBoardsLineWhole) {
    { std::ofstream(log) << "{\"earlier\":true}\n"; }
    ChildProcess watch(ZQ417_FLASH_PATH, {"watch", "--json", "--log", log.string()}, true);
    // The second board is plugged as the first one's status is asked for, so it has seconds to
    // run when the first one's result comes.
    ASSERT_TRUE(awaitLog(plug(), "Query 0xF2")) << watch.err();
    ASSERT_TRUE(awaitLog(plug(), "Sync #")) << watch.err();
    ASSERT_TRUE(watch.readLine(30s)) << watch.err();
    watch.signal(SIGKILL);
    watch.waitForExit(10s);

    const std::vector<std::string> logged = linesOf(log);
    ASSERT_EQ(logged.size(), 2u);
    EXPECT_EQ(logged[0], "{\"earlier\":true}");
    EXPECT_EQ(nlohmann::json::parse(logged[1])["ok"], true) << logged[1];
}

// A board pulled from its fixture while it programs its EEPROM is one board, with a record that
// says so; the board plugged into the same fixture afterwards is another, with its own record.
TEST_F(Station, ABoardPulledWhileItProgramsAndTheNextInItsFixtureHaveARecordEach) {
    ChildProcess watch(ZQ417_FLASH_PATH, {"watch", "--count", "2", "--json", "--log", log.string()},
                       true);
    const std::filesystem::path link = work.path / "fixture";
    SimProcess sim({"--mode", "update", "--no-pacing", "--quiet", "--link", link.string(),
                    "--pull-while-programming", "1"});
    const std::string pulled = sim.devicePath();
    ASSERT_TRUE(awaitLog(sim, "pulled while it programmed")) << watch.err();
    const std::string next = sim.devicePath();
    ASSERT_FALSE(next.empty());
    ASSERT_TRUE(watch.waitForExit(60s)) << watch.err();

    const std::vector<std::string> logged = linesOf(log);
    ASSERT_EQ(logged.size(), 2u) << watch.err();
    // In the order of the plugs: the next board may have been given the pulled one's device.
    std::vector<nlohmann::json> records;
    for (const std::string& line : logged) {
        records.push_back(nlohmann::json::parse(line));
        EXPECT_EQ(records.back()["fixture"]["stable_name"], link.lexically_normal().string());
        EXPECT_EQ(records.back()["fixture"]["board_index"], 0);
    }
    std::ranges::sort(records, {}, [](const nlohmann::json& r) { return r["started"]; });
    EXPECT_EQ(records[0]["device"], pulled);
    EXPECT_EQ(records[0]["ok"], false);
    EXPECT_EQ(records[0]["result"], "pulled");
    EXPECT_EQ(records[0]["pulled_during"], "programming");
    EXPECT_EQ(records[1]["device"], next);
    EXPECT_EQ(records[1]["ok"], true);
    EXPECT_EQ(records[1]["result"], "succeeded");
}

}  // namespace
}  // namespace zq::test
