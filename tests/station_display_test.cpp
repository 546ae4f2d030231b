// The station window on a real X server (Xvfb) against zq417-sim's virtual boards: started with
// --start it flashes every board the simulator announces, logs each one, and a signal ends it
// with every port handed back as it was found.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/port_snapshot.h"
#include "support/sim_process.h"

#ifndef ZQ_WINDOW_PATH
#error "ZQ_WINDOW_PATH must name the firmware-updater executable"
#endif

namespace zq::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

std::vector<std::string> linesOfFile(const fs::path& file) {
    std::vector<std::string> lines;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// Virtual boards, an X server and the station window started on them, each in directories of
// the test's own (announcements, settings, the log).
class StationOnX11 : public ::testing::Test {
  protected:
    void SetUp() override {
        if (ChildProcess("/usr/bin/env", {"xdotool", "version"}, true).waitForExit() == 127) {
            GTEST_SKIP() << "xdotool is missing (Debian package xdotool)";
        }
        display.emplace("/usr/bin/env",
                        std::vector<std::string>{"Xvfb", "-displayfd", "1", "-nolisten", "tcp"},
                        true);
        const std::optional<std::string> number = display->readLine(10s);
        if (!number) {
            GTEST_SKIP() << "Xvfb is missing or would not start (Debian package xvfb) "
                         << display->err();
        }
        home = fs::temp_directory_path() / ("zq-station-display-" + *number);
        fs::remove_all(home);
        for (const char* part : {"run", "config", "data"}) {
            fs::create_directories(home / part);
        }
        ::chmod((home / "run").c_str(), 0700);
        ::setenv("XDG_RUNTIME_DIR", (home / "run").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
        ::setenv("DISPLAY", (":" + *number).c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        // A process Qt ends from inside its loop, its objects still alive, leaks nothing.
        ::setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
    }
    void TearDown() override {
        if (!home.empty()) {
            fs::remove_all(home);
        }
    }

    // Starts `count` virtual boards and notes how each device is set before the window opens.
    void startBoards(int count) {
        boards.emplace(std::vector<std::string>{"--boards", std::to_string(count), "--mode",
                                                "update", "--no-pacing"});
        for (int board = 0; board < count; ++board) {
            const std::optional<std::string> line = boards->readLine(5s);
            ASSERT_TRUE(line.has_value());
            const std::string device = line->substr(line->rfind(" on /") + 4);
            const std::optional<PortSnapshot> before = snapshot(device);
            ASSERT_TRUE(before.has_value()) << device;
            devices.emplace_back(device, *before);
        }
    }
    void startWindow() {
        window.emplace(ZQ_WINDOW_PATH,
                       std::vector<std::string>{"--station", "--start", "--log", log().string()},
                       true);
        ASSERT_EQ(ChildProcess("/usr/bin/env",
                               {"xdotool", "search", "--sync", "--onlyvisible", "--name",
                                "Firmware Station"},
                               true)
                      .waitForExit(20s),
                  0)
            << window->err();
    }
    fs::path log() const { return home / "station.jsonl"; }
    void expectEveryPortAsFound() {
        for (const auto& [device, before] : devices) {
            expectAsFound(device, before);
        }
    }

    std::optional<ChildProcess> display;
    std::optional<SimProcess> boards;
    std::optional<ChildProcess> window;
    fs::path home;
    std::vector<std::pair<std::string, PortSnapshot>> devices;
};

TEST_F(StationOnX11, FlashesEveryVirtualBoardAndASignalHandsEveryPortBack) {
    ASSERT_NO_FATAL_FAILURE(startBoards(3));
    ASSERT_NO_FATAL_FAILURE(startWindow());
    // Each board takes about 6 s to program; they run at once.
    for (int i = 0; i < 600 && linesOfFile(log()).size() < devices.size(); ++i) {
        std::this_thread::sleep_for(100ms);
    }
    const std::vector<std::string> logged = linesOfFile(log());
    ASSERT_EQ(logged.size(), devices.size()) << window->err();
    for (const std::string& line : logged) {
        EXPECT_NE(line.find("\"ok\":true"), std::string::npos) << line;
    }
    window->signal(SIGTERM);
    EXPECT_EQ(window->waitForExit(15s), 128 + SIGTERM) << window->err();
    expectEveryPortAsFound();
}

// Qt ends the process on the spot when the display goes away; the board programming its EEPROM
// still ends (and is logged) and every port is handed back.
TEST_F(StationOnX11, ADisplayThatGoesAwayMidRunHandsEveryPortBackAndLogsTheBoard) {
    ASSERT_NO_FATAL_FAILURE(startBoards(1));
    ASSERT_NO_FATAL_FAILURE(startWindow());
    ASSERT_TRUE(awaitLog(*boards, "Data: 5728 bytes received, acknowledged")) << boards->out();
    display->signal(SIGKILL);
    ASSERT_TRUE(window->waitForExit(20s).has_value()) << window->err();
    EXPECT_NE(window->err().find("X11 connection broke"), std::string::npos) << window->err();
    const std::vector<std::string> logged = linesOfFile(log());
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_NE(logged[0].find("\"ok\":true"), std::string::npos) << logged[0];
    expectEveryPortAsFound();
}

}  // namespace
}  // namespace zq::test
