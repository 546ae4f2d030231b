// zq417-flash against zq417-sim as a user runs them: two programs with a pseudo-terminal between
// them, in real time. Bounds are generous for a busy machine; the exact timing rules are asserted
// in virtual time elsewhere.
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/sim_process.h"
#include "text/messages.h"

namespace zq::test {
namespace {

using namespace std::chrono_literals;

// A Download takes about 8 s; one that is still going after this has hung.
constexpr std::chrono::milliseconds RunLimit = 30s;

// What the board is sent: the 5695-byte image padded to an even length goes to the loader, and
// the same with the 32-byte boot header in front goes to the firmware.
constexpr std::string_view LoaderTook = "loader: 5696 image bytes received, image started";
constexpr std::string_view FirmwareTook = "Data: 5728 bytes received, acknowledged";

// The exchanges the board logged, without their time stamps or the host's opens and closes.
std::vector<std::string> exchangesOf(const std::string& log) {
    std::vector<std::string> found;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t stamp = line.find(" ms  ");
        if (stamp == std::string::npos || line.rfind("zq417-sim:", 0) == 0) {
            continue;
        }
        std::string text = line.substr(stamp + 5);
        if (text != "host opened the port" && text != "host closed the port") {
            found.push_back(std::move(text));
        }
    }
    return found;
}

bool logged(const std::vector<std::string>& exchanges, std::string_view text) {
    for (const std::string& e : exchanges) {
        if (e.find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

std::string line(std::string_view message) {
    return std::string(message) + "\n";
}

// A virtual board on its own pseudo-terminal.
struct Board {
    explicit Board(std::vector<std::string> args)
        : sim(std::move(args)), device(sim.devicePath()) {}

    // Ends the simulator and gives what it logged.
    std::vector<std::string> exchanges() {
        EXPECT_EQ(sim.stop(), 0);
        return exchangesOf(sim.out());
    }

    SimProcess sim;
    std::string device;
};

// One run of zq417-flash on a board's device, both output streams captured.
struct Flash : ChildProcess {
    Flash(const std::string& command, const Board& board, std::vector<std::string> extra = {})
        : ChildProcess(ZQ417_FLASH_PATH, argsFor(command, board, std::move(extra)), true) {
        raisePriority();
    }

    static std::vector<std::string> argsFor(const std::string& command, const Board& board,
                                            std::vector<std::string> extra) {
        extra.insert(extra.begin(), {command, "--port", board.device});
        return extra;
    }
};

TEST(FlashOnSim, DownloadLoadsTheImageAndHasTheFirmwareProgramIt) {
    Board board({});  // paced at 14400 baud, as a real board answers
    ASSERT_FALSE(board.device.empty());
    Flash flash("download", board);
    const std::optional<int> exit = flash.waitForExit(RunLimit);
    if (exit != 0) {
        board.sim.stop();
    }
    ASSERT_EQ(exit, 0) << flash.err() << board.sim.out();
    EXPECT_EQ(flash.out(), line(messages::Success.download));
    EXPECT_EQ(flash.err(), "");

    const std::vector<std::string> exchanges = board.exchanges();
    EXPECT_TRUE(logged(exchanges, "LoaderCommand for 5696 bytes")) << board.sim.out();
    EXPECT_TRUE(logged(exchanges, LoaderTook)) << board.sim.out();
    EXPECT_TRUE(logged(exchanges, FirmwareTook)) << board.sim.out();
    EXPECT_TRUE(logged(exchanges, "Query 0xF2: value 0x0000")) << board.sim.out();
}

TEST(FlashOnSim, UpdateProgramsTheImageAndTracesTheWire) {
    Board board({"--mode", "update", "--no-pacing"});
    ASSERT_FALSE(board.device.empty());
    Flash flash("update", board, {"--trace"});
    ASSERT_EQ(flash.waitForExit(RunLimit), 0) << flash.err();
    EXPECT_EQ(flash.out(), line(messages::Success.update));

    // Standard error holds the trace and nothing else: the handshake both ways, in that order.
    int sync = -1;
    int ack = -1;
    std::istringstream trace(flash.err());
    std::string t;
    for (int i = 0; std::getline(trace, t); ++i) {
        EXPECT_NE(t.find(" ms  "), std::string::npos) << "not a trace line: " << t;
        if (sync < 0 && t.ends_with("ms  -> AA 0D 00 00 00 00")) {
            sync = i;
        }
        if (ack < 0 && t.find("ms  <- AA 0E 0D") != std::string::npos) {
            ack = i;
        }
    }
    EXPECT_GE(sync, 0) << flash.err();
    EXPECT_GT(ack, sync) << flash.err();
    EXPECT_TRUE(logged(board.exchanges(), FirmwareTook)) << board.sim.out();
}

TEST(FlashOnSim, DownloadSendsNothingToABoardRunningItsFirmware) {
    Board board({"--mode", "update", "--no-pacing"});
    ASSERT_FALSE(board.device.empty());
    Flash flash("download", board);
    ASSERT_EQ(flash.waitForExit(RunLimit), 1);
    EXPECT_EQ(flash.err(), line(messages::BoardInUpdateMode.download));
    EXPECT_EQ(flash.out(), "");
    // The handshake and nothing after it: no TransferFirmware, and an image meant for the loader
    // would have shown up as stray packets. A loaded machine may make the board's answer miss
    // its window, and the host then tries again.
    const std::vector<std::string> exchanges = board.exchanges();
    ASSERT_GE(exchanges.size(), 2u) << board.sim.out();
    for (std::size_t i = 0; i + 1 < exchanges.size(); ++i) {
        EXPECT_EQ(exchanges[i], "Sync #" + std::to_string(i + 1) + ": answered with Ack and Sync")
            << board.sim.out();
    }
    EXPECT_EQ(exchanges.back(), "host Ack") << board.sim.out();
}

TEST(FlashOnSim, UpdateGivesUpOnASilentBoardAfterItsTries) {
    Board board({"--mode", "update", "--silent", "--no-pacing"});
    ASSERT_FALSE(board.device.empty());
    Flash flash("update", board);
    ASSERT_EQ(flash.waitForExit(RunLimit), 1);
    EXPECT_EQ(flash.err(), line(messages::BoardNotAnswering.update));
    EXPECT_EQ(flash.out(), "");
    // Sixty tries of 25 ms: never sooner, and a loaded machine makes it later, not much later.
    EXPECT_GE(flash.runTime(), 1400ms);
    EXPECT_LT(flash.runTime(), 10s);
}

TEST(FlashOnSim, ADroppedLineEndsTheRunWithAnError) {
    // 3000 bytes from the host is well inside the image the loader is taking.
    Board board({"--no-pacing", "--drop-after", "3000"});
    ASSERT_FALSE(board.device.empty());
    Flash flash("download", board);
    ASSERT_EQ(flash.waitForExit(RunLimit), 1);
    // A pseudo-terminal takes the whole image at once, so the hang-up may reach the host inside
    // the image's write or only when the next phase sets the line up.
    EXPECT_TRUE(flash.err() == line(messages::LoaderTransferFail.download) ||
                flash.err() == line(messages::CannotConfigPort))
        << flash.err();
    EXPECT_EQ(flash.out(), "");
    // The handshake alone takes 1.5 s; a run that waits on a dead line takes far longer.
    EXPECT_LT(flash.runTime(), 10s);
    // The board hangs up and goes away by itself.
    EXPECT_EQ(board.sim.waitForExit(), 0);
    EXPECT_TRUE(logged(exchangesOf(board.sim.out()), "line dropped after 3000 bytes"))
        << board.sim.out();
}

TEST(FlashOnSim, TwoBoardsAreFlashedAtOnceFromTwoProcesses) {
    Board first({});
    Board second({});
    ASSERT_FALSE(first.device.empty());
    ASSERT_FALSE(second.device.empty());
    Flash one("download", first);
    Flash two("download", second);
    ASSERT_EQ(one.waitForExit(RunLimit), 0) << one.err();
    ASSERT_EQ(two.waitForExit(RunLimit), 0) << two.err();
    EXPECT_EQ(one.out(), line(messages::Success.download));
    EXPECT_EQ(two.out(), line(messages::Success.download));
    // Each board got a whole image of its own, once.
    for (Board* board : {&first, &second}) {
        const std::vector<std::string> exchanges = board->exchanges();
        EXPECT_TRUE(logged(exchanges, LoaderTook)) << board->sim.out();
        EXPECT_TRUE(logged(exchanges, FirmwareTook)) << board->sim.out();
    }
}

TEST(FlashOnSim, AProgrammingFailureTheBoardReportsFailsTheRun) {
    Board board({"--mode", "update", "--no-pacing", "--status", "0x0080"});
    ASSERT_FALSE(board.device.empty());
    Flash flash("update", board);
    ASSERT_EQ(flash.waitForExit(RunLimit), 1);
    EXPECT_EQ(flash.err(), line(messages::EepromProgramFail));
    EXPECT_EQ(flash.out(), "");
}

}  // namespace
}  // namespace zq::test
