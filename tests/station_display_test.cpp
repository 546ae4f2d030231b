// The station window on a real X server (Xvfb) against zq417-sim's virtual boards: started with
// --start it flashes every board the simulator announces, logs each one, and a signal ends it
// with every port handed back as it was found.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

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

TEST(StationOnX11, FlashesEveryVirtualBoardAndASignalHandsEveryPortBack) {
    if (ChildProcess("/usr/bin/env", {"xdotool", "version"}, true).waitForExit() == 127) {
        GTEST_SKIP() << "xdotool is missing (Debian package xdotool)";
    }
    ChildProcess display("/usr/bin/env", {"Xvfb", "-displayfd", "1", "-nolisten", "tcp"}, true);
    const std::optional<std::string> number = display.readLine(10s);
    if (!number) {
        GTEST_SKIP() << "Xvfb is missing or would not start (Debian package xvfb) "
                     << display.err();
    }
    // Announcements, settings and the default log in directories of the test's own.
    const fs::path home = fs::temp_directory_path() / ("zq-station-display-" + *number);
    fs::remove_all(home);
    for (const char* part : {"run", "config", "data"}) {
        fs::create_directories(home / part);
    }
    ::chmod((home / "run").c_str(), 0700);
    ::setenv("XDG_RUNTIME_DIR", (home / "run").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
    SimProcess boards({"--boards", "3", "--mode", "update", "--no-pacing", "--quiet"});
    std::vector<std::pair<std::string, PortSnapshot>> devices;
    for (int board = 0; board < 3; ++board) {
        const std::optional<std::string> line = boards.readLine(5s);
        ASSERT_TRUE(line.has_value());
        const std::string device = line->substr(line->rfind(" on /") + 4);
        const std::optional<PortSnapshot> before = snapshot(device);
        ASSERT_TRUE(before.has_value()) << device;
        devices.emplace_back(device, *before);
    }

    ::setenv("DISPLAY", (":" + *number).c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    const fs::path log = home / "station.jsonl";
    ChildProcess window(ZQ_WINDOW_PATH, {"--station", "--start", "--log", log.string()}, true);
    ASSERT_EQ(
        ChildProcess("/usr/bin/env",
                     {"xdotool", "search", "--sync", "--onlyvisible", "--name", "Firmware Station"},
                     true)
            .waitForExit(20s),
        0)
        << window.err();
    // Each board takes about 6 s to program; they run at once.
    for (int i = 0; i < 600 && linesOfFile(log).size() < devices.size(); ++i) {
        std::this_thread::sleep_for(100ms);
    }
    const std::vector<std::string> logged = linesOfFile(log);
    ASSERT_EQ(logged.size(), devices.size()) << window.err();
    for (const std::string& line : logged) {
        EXPECT_NE(line.find("\"ok\":true"), std::string::npos) << line;
    }
    window.signal(SIGTERM);
    EXPECT_EQ(window.waitForExit(15s), 128 + SIGTERM) << window.err();
    for (const auto& [device, before] : devices) {
        expectAsFound(device, before);
    }
    fs::remove_all(home);
}

}  // namespace
}  // namespace zq::test
