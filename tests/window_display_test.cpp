// The real window on a real X server, against zq417-sim on a pseudo-terminal: when the display
// goes away in the middle of an operation, Qt ends the process on the spot, and the port must
// still be handed back as it was found. The window offers COM1 first, so the board's
// pseudo-terminal is bound over /dev/ttyS0 in a mount namespace of the window's own.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "support/port_snapshot.h"
#include "support/sim_process.h"

#ifndef ZQ_WINDOW_PATH
#error "ZQ_WINDOW_PATH must name the firmware-updater executable"
#endif

namespace zq::test {
namespace {

using namespace std::chrono_literals;

// Found on the PATH by env, which exits 127 for a program that is not there.
ChildProcess run(std::vector<std::string> args) {
    return ChildProcess("/usr/bin/env", std::move(args), true);
}

TEST(WindowOnX11, ADisplayThatGoesAwayDuringAnOperationLeavesThePortAsFound) {
    if (::geteuid() != 0 || !std::filesystem::exists("/dev/ttyS0")) {
        GTEST_SKIP() << "binding the board over /dev/ttyS0 (COM1) needs root and that device";
    }
    // A container may keep even root from making a mount namespace.
    if (run({"unshare", "--mount", "true"}).waitForExit() != 0) {
        GTEST_SKIP() << "no mount namespace may be made here";
    }
    if (run({"xdotool", "version"}).waitForExit() == 127) {
        GTEST_SKIP() << "xdotool is missing (Debian package xdotool)";
    }
    // Xvfb says which display it took once it is ready for clients.
    ChildProcess display = run({"Xvfb", "-displayfd", "1", "-nolisten", "tcp"});
    const std::optional<std::string> number = display.readLine(10s);
    if (!number) {
        GTEST_SKIP() << "Xvfb is missing or would not start (Debian package xvfb) "
                     << display.err();
    }
    SimProcess board({"--mode", "update", "--no-pacing"});
    const std::string device = board.devicePath();
    ASSERT_FALSE(device.empty());
    const std::optional<PortSnapshot> before = snapshot(device);
    ASSERT_TRUE(before.has_value());

    ::setenv("DISPLAY", (":" + *number).c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    // No port remembered from an earlier run, so COM1 is chosen; nothing written to the user's.
    const std::filesystem::path config =
        std::filesystem::temp_directory_path() / ("zq-window-display-" + *number);
    ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    // The process ends inside Qt, its objects still alive: not a leak.
    ::setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
    ChildProcess window =
        run({"unshare", "--mount", "--propagation", "private", "sh", "-c",
             "mount --bind \"$0\" /dev/ttyS0 && exec \"$1\"", device, ZQ_WINDOW_PATH});
    // The first Tab reaches Download, the third Update.
    ASSERT_EQ(run({"xdotool", "search", "--sync", "--onlyvisible", "--name", "^Firmware Updater$",
                   "windowfocus", "--sync", "key", "Tab", "Tab", "Tab", "space"})
                  .waitForExit(20s),
              0)
        << window.err();

    // The board has the image and programs it: the window holds the port through 5 s.
    ASSERT_TRUE(awaitLog(board, "Data: 5728 bytes received, acknowledged")) << board.out();
    display.signal(SIGKILL);
    ASSERT_TRUE(window.waitForExit(15s).has_value()) << window.err();
    EXPECT_NE(window.err().find("X11 connection broke"), std::string::npos) << window.err();
    expectAsFound(device, *before);
    std::filesystem::remove_all(config);
}

}  // namespace
}  // namespace zq::test
