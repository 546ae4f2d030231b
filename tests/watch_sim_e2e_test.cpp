// zq417-flash watch as a station runs it, against zq417-sim boards started one after another:
// real processes in real time, with generous bounds for a busy machine.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/image_files.h"
#include "support/sim_process.h"

namespace zq::test {
namespace {

using namespace std::chrono_literals;

// The boards stand on fixed ports (links the simulators make as they start), which the watch
// probes until a board answers there.
TEST(WatchOnSim, ThreeBoardsPluggedOneAfterAnotherAreEachFlashedOnce) {
    TempDir dir;
    std::vector<std::string> ports;
    std::vector<std::string> args = {"watch", "--count", "3", "--json"};
    for (int k = 0; k < 3; ++k) {
        ports.push_back((dir.path / ("board" + std::to_string(k))).string());
        args.insert(args.end(), {"--port", ports.back()});
    }
    ChildProcess watch(ZQ417_FLASH_PATH, args, true);
    std::vector<std::unique_ptr<SimProcess>> boards;
    for (const std::string& port : ports) {
        std::this_thread::sleep_for(1500ms);
        boards.push_back(std::make_unique<SimProcess>(
            std::vector<std::string>{"--mode", "update", "--no-pacing", "--link", port}));
        ASSERT_FALSE(boards.back()->devicePath().empty());
        // The first board stays plugged past its result, while the watch goes on probing.
        if (boards.size() == 1) {
            ASSERT_TRUE(watch.readLine(30s)) << watch.err();
        }
    }
    ASSERT_EQ(watch.waitForExit(60s), 0) << watch.err();
    for (const std::string& port : ports) {
        EXPECT_NE(watch.out().find("\"port\":\"" + port + "\""), std::string::npos) << watch.out();
        EXPECT_NE(watch.err().find("watch: board on " + port), std::string::npos) << watch.err();
    }
    // Each board took the image once, though it went on answering the probe afterwards.
    for (auto& board : boards) {
        board->stop();
        const std::string& log = board->out();
        const std::string took = "Data: 5728 bytes received, acknowledged";
        EXPECT_NE(log.find(took), std::string::npos) << log;
        EXPECT_EQ(log.find(took, log.find(took) + 1), std::string::npos) << log;
    }
}

}  // namespace
}  // namespace zq::test
