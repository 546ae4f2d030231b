// zq417-flash against zq417-sim as a user runs them: two programs with a pseudo-terminal between
// them, in real time. Bounds are generous for a busy machine; the exact timing rules are asserted
// in virtual time elsewhere.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <cstring>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "app/cli/interruption_watch.h"
#include "image/built_in_image.h"
#include "image/image_identity.h"
#include "support/port_snapshot.h"
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

// The line each run prints on standard error before it sends anything.
const std::string BuiltInIdentity =
    "Image: built-in, 5695 bytes, SHA-256 of these bytes (before pad and boot header) " +
    sha256Hex({builtInImage(), BuiltInImageLength}) + "\n";

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
    Flash(const std::string& command, const Board& board, std::vector<std::string> extra = {},
          bool quiet = true)
        : ChildProcess(ZQ417_FLASH_PATH, argsFor(command, board, std::move(extra), quiet), true) {
        raisePriority();
    }

    static std::vector<std::string> argsFor(const std::string& command, const Board& board,
                                            std::vector<std::string> extra, bool quiet) {
        extra.insert(extra.begin(), {command, "--port", board.device});
        // The progress lines are not what these tests look at.
        if (quiet) {
            extra.push_back("--quiet");
        }
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
    EXPECT_EQ(flash.err(), BuiltInIdentity);

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

    // Standard error holds the image's line, then the trace and nothing else: the image named,
    // then the handshake both ways, in that order.
    int sync = -1;
    int ack = -1;
    std::istringstream trace(flash.err());
    std::string t;
    for (int i = 0; std::getline(trace, t); ++i) {
        EXPECT_TRUE(t.find(" ms  ") != std::string::npos || i == 0) << "not a trace line: " << t;
        if (sync < 0 && t.ends_with("ms  -> AA 0D 00 00 00 00")) {
            sync = i;
        }
        if (ack < 0 && t.find("ms  <- AA 0E 0D") != std::string::npos) {
            ack = i;
        }
    }
    EXPECT_NE(flash.err().find(" ms  Image: built-in, 5695 bytes, SHA-256"), std::string::npos)
        << flash.err();
    EXPECT_GE(sync, 0) << flash.err();
    EXPECT_GT(ack, sync) << flash.err();
    EXPECT_TRUE(logged(board.exchanges(), FirmwareTook)) << board.sim.out();
}

TEST(FlashOnSim, DownloadSendsNothingToABoardRunningItsFirmware) {
    Board board({"--mode", "update", "--no-pacing"});
    ASSERT_FALSE(board.device.empty());
    Flash flash("download", board);
    ASSERT_EQ(flash.waitForExit(RunLimit), 5);
    EXPECT_TRUE(
        flash.err().starts_with(BuiltInIdentity + line(messages::BoardInUpdateMode.download)))
        << flash.err();
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

TEST(FlashOnSim, ADroppedLineEndsTheRunWithAnError) {
    // 3000 bytes from the host is well inside the image the loader is taking.
    Board board({"--no-pacing", "--drop-after", "3000"});
    ASSERT_FALSE(board.device.empty());
    Flash flash("download", board);
    const std::optional<int> status = flash.waitForExit(RunLimit);
    ASSERT_TRUE(status.has_value());
    // A pseudo-terminal takes the whole image at once, so the hang-up may reach the host inside
    // the image's write or only when the next phase sets the line up.
    // After the box, the system's reason: the device has gone.
    const std::string reason = board.device + ": ";
    const std::string gone = "the device has gone: unplugged, switched off, or the line hung up\n";
    const std::string& err = flash.err();
    const bool inImage =
        err.starts_with(BuiltInIdentity + line(messages::LoaderTransferFail.download) + reason);
    EXPECT_TRUE(inImage ||
                err.starts_with(BuiltInIdentity + line(messages::CannotConfigPort) + reason))
        << err;
    EXPECT_TRUE(err.ends_with(gone)) << err;
    EXPECT_EQ(*status, inImage ? 1 : 3);
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

double msSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

// Stands for SIGPIPE in the tables below: the signal itself is ignored; the reader of the
// program's standard error (or output) going away is what counts as it.
constexpr int ReaderGone = SIGPIPE;

// Every signal that would end the process ends the run at once: the port goes back to the
// settings found at the start, the exclusive flag is cleared, one line says what it means for the
// board, and the exit status is the shell's 128 + the signal's number.
TEST(FlashOnSim, ASignalEndsTheRunWithThePortAsFoundAndOneLineSayingWhatItMeans) {
    struct Case {
        const char* what;
        std::vector<std::string> board;
        const char* command;
        const char* signalAfter;  // the board's log line that shows the stage has begun
        int signal;
        cli::InterruptedAt where;
    };
    const std::vector<std::string> download = {"--no-pacing"};
    const std::vector<std::string> silent = {"--mode", "update", "--silent", "--no-pacing"};
    // The loader takes the image, then the run waits 100 ms for it to start.
    const char* const imageSent = "LoaderCommand for 5696 bytes";
    const cli::InterruptedAt inLoader{OperationStage::Loader, false};
    // Sixty tries at 25 ms each before the run would give up the handshake.
    const cli::InterruptedAt inHandshake{OperationStage::Probing, false};
    const std::vector<Case> cases = {
        {"image to the loader", download, "download", imageSent, SIGINT, inLoader},
        {"image to the loader", download, "download", imageSent, SIGQUIT, inLoader},
        // `2>&1 >/dev/null | head -c 20`: the progress lines lose their reader. The board logs
        // the host's opens: the first is the test's own look at the line.
        {"download's handshake", download, "download", "host opened the port", ReaderGone, {}},
        {"update's handshake", silent, "update", "Sync #2", SIGTERM, inHandshake},
        {"update's handshake", silent, "update", "Sync #2", SIGHUP, inHandshake},
        {"update's handshake", silent, "update", "Sync #2", SIGALRM, inHandshake},
        {"update's handshake", silent, "update", "Sync #2", SIGUSR1, inHandshake},
        {"update's handshake", silent, "update", "Sync #2", SIGUSR2, inHandshake},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.what) + ", signal " + std::to_string(c.signal));
        Board board(c.board);
        ASSERT_FALSE(board.device.empty());
        const std::optional<PortSnapshot> before = snapshot(board.device);
        ASSERT_TRUE(before.has_value());
        ASSERT_EQ(before->exclusive, 0);
        Flash flash(c.command, board, {}, c.signal != ReaderGone);
        ASSERT_TRUE(awaitLog(board.sim, c.signalAfter)) << board.sim.out();
        if (c.signal == ReaderGone) {
            ASSERT_TRUE(awaitLog(board.sim, c.signalAfter)) << board.sim.out();
            // Well inside the handshake, which begins once the line is set up.
            std::this_thread::sleep_for(300ms);
        }
        const auto sent = std::chrono::steady_clock::now();
        if (c.signal == ReaderGone) {
            flash.stopReading(1);
        } else {
            flash.signal(c.signal);
        }
        EXPECT_EQ(flash.waitForExit(RunLimit), 128 + c.signal)
            << flash.err() << "shell status " << flash.shellStatus().value_or(-1);
        std::printf("%s: exit %.1f ms after signal %d\n", c.what, msSince(sent), c.signal);
        // The loader's 100 ms start-up pause may be over before a loaded machine delivers the
        // signal; the run is then in the handshake after the loader, and says so.
        const bool loaderOver =
            c.where.stage == OperationStage::Loader &&
            flash.err() ==
                BuiltInIdentity + line(cli::interruptionLine({OperationStage::Probing, true}));
        if (c.signal != ReaderGone && !loaderOver) {
            EXPECT_EQ(flash.err(), BuiltInIdentity + line(cli::interruptionLine(c.where)));
        }
        EXPECT_EQ(flash.out(), "");
        expectAsFound(board.device, *before);
    }
}

// Once the board has acknowledged the image it programs its EEPROM: the first signal warns and the
// run reports the board's real result; a second one ends the run at once.
TEST(FlashOnSim, WhileTheBoardProgramsASignalWarnsAndASecondEndsTheRun) {
    const std::string notice = line(cli::programmingNotice());
    {
        SCOPED_TRACE("one signal");
        Board board({"--mode", "update", "--no-pacing"});
        ASSERT_FALSE(board.device.empty());
        const std::optional<PortSnapshot> before = snapshot(board.device);
        ASSERT_TRUE(before.has_value());
        Flash flash("update", board);
        ASSERT_TRUE(awaitLog(board.sim, "Data: 5728 bytes received, acknowledged"))
            << board.sim.out();
        flash.signal(SIGINT);
        EXPECT_EQ(flash.waitForExit(RunLimit), 0) << flash.err();
        EXPECT_EQ(flash.err(), BuiltInIdentity + notice);
        EXPECT_EQ(flash.out(), line(messages::Success.update));
        // The board was asked for its result after the whole wait.
        EXPECT_TRUE(awaitLog(board.sim, "Query 0xF2: value 0x0000")) << board.sim.out();
        expectAsFound(board.device, *before);
    }
    {
        SCOPED_TRACE("two signals");
        Board board({"--mode", "update", "--no-pacing"});
        ASSERT_FALSE(board.device.empty());
        const std::optional<PortSnapshot> before = snapshot(board.device);
        ASSERT_TRUE(before.has_value());
        Flash flash("update", board);
        ASSERT_TRUE(awaitLog(board.sim, "Data: 5728 bytes received, acknowledged"))
            << board.sim.out();
        flash.signal(SIGHUP);
        std::this_thread::sleep_for(500ms);
        const auto sent = std::chrono::steady_clock::now();
        flash.signal(SIGINT);
        EXPECT_EQ(flash.waitForExit(RunLimit), 128 + SIGHUP) << flash.err();
        const double ms = msSince(sent);
        std::printf("programming: exit %.1f ms after the second signal\n", ms);
        EXPECT_LT(ms, 2000.0);
        EXPECT_EQ(flash.err(),
                  BuiltInIdentity + notice +
                      line(cli::interruptionLine({OperationStage::Programming, false})));
        EXPECT_EQ(flash.out(), "");
        expectAsFound(board.device, *before);
    }
}

// One zq417-flash for several boards of one zq417-sim, whatever their mode, and a port that is
// not there: every board present is flashed, and each gets a JSON line of its own.
TEST(FlashOnSim, OneCommandFlashesSeveralBoardsAndReportsEachAsJson) {
    SimProcess sim({"--boards", "3", "--mode", "download", "--no-pacing", "--quiet"});
    std::vector<std::string> args = {"flash", "--json"};
    for (int k = 0; k < 3; ++k) {
        const std::string device = sim.devicePath();
        ASSERT_FALSE(device.empty());
        args.insert(args.end(), {"--port", device});
    }
    args.insert(args.end(), {"--port", "/dev/zq417-absent"});
    ChildProcess flash(ZQ417_FLASH_PATH, args, true);
    ASSERT_EQ(flash.waitForExit(RunLimit), 3) << flash.err();
    // At once: one board's Download, not three.
    EXPECT_LT(flash.runTime(), 20s);
    std::istringstream lines(flash.out());
    int succeeded = 0;
    int lineCount = 0;
    for (std::string text; std::getline(lines, text); ++lineCount) {
        const nlohmann::json j = nlohmann::json::parse(text);
        if (j.at("port") == "/dev/zq417-absent") {
            EXPECT_EQ(j.at("exit"), 3);
            EXPECT_EQ(j.at("messages")[0].at("text"), messages::CannotOpenPort);
            continue;
        }
        EXPECT_EQ(j.at("performed"), "download");
        EXPECT_EQ(j.at("messages")[0].at("text"), messages::Success.download);
        succeeded += j.at("ok") == true ? 1 : 0;
    }
    EXPECT_EQ(lineCount, 4) << flash.out();
    EXPECT_EQ(succeeded, 3) << flash.out();
    EXPECT_NE(flash.err().find("summary: 3 of 4 boards succeeded\nsummary: /dev/zq417-absent "
                               "failed (exit 3)"),
              std::string::npos)
        << flash.err();
    EXPECT_EQ(sim.stop(), 0);
}

// `flash --json` on several boards, one of them programming its EEPROM, another still probing,
// when a signal comes or when the reader of standard output goes away after the first line
// (`| head -n 1`): the programming board is finished and handed back, the probing one is stopped
// and handed back, and nothing more is written to a stream without its reader.
TEST(FlashOnSim, SeveralBoardsAreEachHandedBackWhenASignalOrALostReaderEndsTheRun) {
    for (const int signal : {SIGUSR2, ReaderGone}) {
        SCOPED_TRACE("signal " + std::to_string(signal));
        Board programming({"--mode", "update", "--no-pacing"});
        Board probing({"--no-pacing"});
        // Its line hangs up within the first half second: the second JSON line.
        Board dropping({"--no-pacing", "--drop-after", "120"});
        std::vector<std::string> args = {"flash", "--json", "--quiet", "--port",
                                         "/dev/zq417-absent"};
        std::vector<PortSnapshot> before;
        for (Board* board : {&programming, &probing, &dropping}) {
            ASSERT_FALSE(board->device.empty());
            args.insert(args.end(), {"--port", board->device});
            before.push_back(snapshot(board->device).value_or(PortSnapshot{}));
        }
        ChildProcess flash(ZQ417_FLASH_PATH, args, true);
        const std::optional<std::string> first = flash.readLine(RunLimit);
        ASSERT_TRUE(first.has_value());
        EXPECT_EQ(nlohmann::json::parse(*first).at("exit"), 3);
        if (signal == ReaderGone) {
            flash.stopReading(0);
        } else {
            ASSERT_TRUE(awaitLog(programming.sim, "Data: 5728 bytes received, acknowledged"))
                << programming.sim.out();
            flash.signal(signal);
        }
        EXPECT_EQ(flash.waitForExit(RunLimit), 128 + signal) << flash.err();
        EXPECT_TRUE(awaitLog(programming.sim, "Query 0xF2: value 0x0000")) << programming.sim.out();
        const std::string& err = flash.err();
        EXPECT_NE(err.find(programming.device + ": " + std::string(cli::programmingNotice())),
                  std::string::npos)
            << err;
        EXPECT_NE(err.find(probing.device + ": " +
                           cli::interruptionLine({OperationStage::Probing, false})),
                  std::string::npos)
            << err;
        std::istringstream lines(flash.out());
        for (std::string text; std::getline(lines, text);) {
            const nlohmann::json j = nlohmann::json::parse(text);
            if (j.at("port") == programming.device) {
                EXPECT_EQ(j.at("ok"), true);
            }
        }
        if (signal == ReaderGone) {
            EXPECT_EQ(flash.out(), *first + "\n");
        }
        expectAsFound(programming.device, before[0]);
        expectAsFound(probing.device, before[1]);
    }
}

}  // namespace
}  // namespace zq::test
