// The real window on a real X server, against zq417-sim on a pseudo-terminal: when the display
// goes away in the middle of an operation, Qt ends the process on the spot, and the port must
// still be handed back as it was found. The window offers COM1 first, so the board's
// pseudo-terminal is bound over /dev/ttyS0 in a mount namespace of the window's own.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "support/port_snapshot.h"
#include "support/sim_process.h"

#ifndef ZQ_WINDOW_PATH
#error "ZQ_WINDOW_PATH must name the firmware-updater executable"
#endif

namespace zq::test {
namespace {

using namespace std::chrono_literals;

// The program's full path when it is on the PATH; empty otherwise.
std::string onPath(std::string_view program) {
    const char* path = std::getenv("PATH");
    std::string_view dirs = path != nullptr ? path : "/usr/bin:/bin";
    while (!dirs.empty()) {
        const std::size_t end = std::min(dirs.find(':'), dirs.size());
        const std::string candidate = std::string(dirs.substr(0, end)) + "/" + std::string(program);
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        dirs.remove_prefix(std::min(end + 1, dirs.size()));
    }
    return {};
}

// Reads the child's output until a line holding `text` comes.
bool awaitLine(ChildProcess& child, std::string_view text, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        const std::optional<std::string> line = child.readLine(left);
        if (line && line->find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

TEST(WindowOnX11, ADisplayThatGoesAwayDuringAnOperationLeavesThePortAsFound) {
    const std::string xvfb = onPath("Xvfb");
    const std::string xdotool = onPath("xdotool");
    const std::string unshare = onPath("unshare");
    if (xvfb.empty() || xdotool.empty() || unshare.empty()) {
        GTEST_SKIP() << "needs Xvfb, xdotool and unshare (Debian packages xvfb, xdotool)";
    }
    struct stat com1 {};
    if (::geteuid() != 0 || ::stat("/dev/ttyS0", &com1) != 0) {
        GTEST_SKIP() << "binding the board over /dev/ttyS0 (COM1) needs root and that device";
    }

    SimProcess board({"--mode", "update", "--no-pacing"});
    const std::string device = board.devicePath();
    ASSERT_FALSE(device.empty());
    const std::optional<PortSnapshot> before = snapshot(device);
    ASSERT_TRUE(before.has_value());

    // Xvfb says which display it took once it is ready for clients.
    ChildProcess display(xvfb, {"-displayfd", "1", "-nolisten", "tcp"}, true);
    const std::optional<std::string> number = display.readLine(10s);
    ASSERT_TRUE(number.has_value()) << display.err();
    ::setenv("DISPLAY", (":" + *number).c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    // No port remembered from an earlier run, so COM1 is chosen; nothing written to the user's.
    const std::filesystem::path config =
        std::filesystem::temp_directory_path() / ("zq-window-display-" + *number);
    std::filesystem::create_directories(config);
    ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    // The process ends inside Qt, with its objects still alive; that is not a leak.
    ::setenv("ASAN_OPTIONS", "detect_leaks=0", 1);

    ChildProcess window(unshare,
                        {"--mount", "--propagation", "private", "sh", "-c",
                         "mount --bind \"$0\" /dev/ttyS0 && exec \"$1\"", device, ZQ_WINDOW_PATH},
                        true);
    // The first Tab reaches Download, the third Update.
    ChildProcess press(xdotool,
                       {"search", "--sync", "--onlyvisible", "--name", "^Firmware Updater$",
                        "windowfocus", "--sync", "key", "Tab", "Tab", "Tab", "space"},
                       true);
    ASSERT_EQ(press.waitForExit(20s), 0) << press.err() << window.err();

    // The board has the image and programs it: the window holds the port through 5 s.
    ASSERT_TRUE(awaitLine(board, "Data: 5728 bytes received, acknowledged", 20s)) << board.out();
    display.signal(SIGKILL);
    const std::optional<int> exit = window.waitForExit(15s);
    ASSERT_TRUE(exit.has_value()) << window.err();
    EXPECT_NE(window.err().find("X11 connection broke"), std::string::npos) << window.err();

    const std::optional<PortSnapshot> after = snapshot(device);
    ASSERT_TRUE(after.has_value());
    EXPECT_EQ(after->exclusive, 0);
    EXPECT_EQ(std::memcmp(&before->line, &after->line, sizeof before->line), 0)
        << "speed " << before->line.c_ospeed << " became " << after->line.c_ospeed;
    std::filesystem::remove_all(config);
}

}  // namespace
}  // namespace zq::test
