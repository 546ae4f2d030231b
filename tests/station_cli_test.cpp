// A production station's command line in virtual time: the result log, retries of a board that
// failed, plain progress lines that carry their time, and the watch: which boards it flashes as
// ports come and go, and whole watches against plug events recorded as snapshots of the ports
// present.
#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <deque>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/cli/command_line.h"
#include "protocol/packet_ops.h"
#include "serial/forwarding_platform.h"
#include "serial/interruption.h"
#include "serial/posix/interrupt_pipe.h"
#include "station/board_runner.h"
#include "station/station.h"
#include "support/cli_run.h"
#include "support/image_files.h"
#include "support/sim_fixture.h"
#include "support/text_lines.h"
#include "transfer/operation.h"

namespace zq::test {
namespace {

using Json = nlohmann::json;
using sim::BoardConfig;
using sim::BoardMode;
using sim::PortEvent;
using sim::SimulatedLine;

TEST(Station, TheLogGetsEachResultAsItsJsonLineAndKeepsWhatItHeld) {
    TempDir dir;
    const std::string log = (dir / "results.jsonl").string();
    SimulatedLine line({.mode = BoardMode::Update});
    const CliRun json = runCliWith({"flash", "--json", "--log", log}, line);
    EXPECT_EQ(json.status, 0);
    SimulatedLine plain({.mode = BoardMode::Download});
    EXPECT_EQ(runCliWith({"download", "--quiet", "--log", log}, plain).status, 0);
    std::ifstream in(log);
    const std::vector<std::string> logged =
        linesOf({std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()});
    ASSERT_EQ(logged.size(), 2u);
    EXPECT_EQ(logged[0] + "\n", json.out);
    EXPECT_EQ(Json::parse(logged[1]).at("performed"), "download");
}

TEST(Station, ALogThatCannotBeOpenedStopsTheRunBeforeAnyPortAndOneThatFailsLaterIsReported) {
    TempDir dir;
    const std::string missing = (dir / "none" / "results.jsonl").string();
    const std::string unread = (dir / "fifo").string();  // opening it must not wait for a reader
    ASSERT_EQ(::mkfifo(unread.c_str(), 0600), 0);
    for (const auto& [log, why] :
         {std::pair{missing, "No such file or directory"},
          {unread, "a pipe that nobody reads: writing to it would wait"}}) {
        SimulatedLine untouched;
        const CliRun refused = runCliWith({"download", "--log", log}, untouched);
        EXPECT_EQ(refused.status, 2);
        EXPECT_EQ(refused.err.rfind("--log " + log + ": cannot open it to add results: " + why, 0),
                  0u)
            << refused.err;
        EXPECT_TRUE(untouched.events.empty());
    }

    SimulatedLine line({.mode = BoardMode::Update});
    const CliRun full = runCliWith({"flash", "--json", "--log", "/dev/full"}, line);
    EXPECT_EQ(full.status, 0);
    EXPECT_EQ(Json::parse(full.out).at("log_error"), "No space left on device");
    EXPECT_NE(full.err.find("--log /dev/full: this board's result could not be added"),
              std::string::npos)
        << full.err;
}

// Only a failure on the board or the line is tried again, each try probing afresh, with every
// try's boxes kept; whatever else ended the first try would end the next one the same way, and
// after a signal, even one that the programming held off, nothing more is started.
TEST(Station, OnlyABoardFailedOnTheLineIsTriedAgain) {
    TempDir dir;
    std::ofstream(dir / "empty.bin").close();
    const auto signalInSleepOf = [](std::chrono::milliseconds pause) {
        sim::PortFaults faults;
        faults.onSleep = [pause](std::chrono::milliseconds asked) {
            if (asked == pause) {
                interruption::raise(SIGTERM);
            }
        };
        return faults;
    };
    const sim::PortFaults inPause = signalInSleepOf(station::RetryPause);
    const sim::PortFaults programming = signalInSleepOf(std::chrono::milliseconds(5000));
    sim::PortFaults absent;
    absent.openFails = OpenFailure::Kind::NoSuchDevice;
    const sim::BoardConfig silent{.silent = true};
    const sim::BoardConfig badEeprom{.statusValue = 0x0080};
    // The loader takes the image but the firmware misses the handshake: the next try finds the
    // firmware answering.
    const sim::BoardConfig lateFirmware{.mode = BoardMode::Download,
                                        .answerFromSync = SyncTries + 1};
    struct Case {
        const char* what;
        std::string image;
        sim::BoardConfig board;
        sim::PortFaults faults;
        int status;
        int tries;
        std::size_t opens;
    } const cases[] = {
        {"fails, then succeeds", "", lateFirmware, {}, 0, 2, 2},
        {"fails every try", "", silent, {}, 1, 4, 4},
        {"image refused", (dir / "empty.bin").string(), silent, {}, 4, 1, 0},
        {"port not opened", "", silent, absent, 3, 1, 1},
        {"a signal in the pause", "", silent, inPause, 128 + SIGTERM, 1, 1},
        {"a signal while the board programs, then its failure", "", badEeprom, programming, 1, 1,
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        interruption::resetForTests();
        SimulatedLine line(c.board);
        line.faults = c.faults;
        std::vector<std::string> args = {"flash", "--json", "--retries", "3"};
        if (!c.image.empty()) {
            args.insert(args.end(), {"--image", c.image});
        }
        const CliRun run = runCliWith(args, line);
        EXPECT_EQ(run.status, c.status);
        const Json result = Json::parse(run.out);
        EXPECT_EQ(result.at("attempts"), c.tries);
        EXPECT_EQ(result.at("messages").size(), c.tries) << "a box from each try";
        EXPECT_EQ(line.eventsOf(PortEvent::Kind::Open).size() +
                      line.eventsOf(PortEvent::Kind::OpenFailed).size(),
                  c.opens);
    }
    interruption::resetForTests();
}

PortInfo portOf(const std::string& name, PortInfo::Bus bus = PortInfo::Bus::Usb) {
    PortInfo port;
    port.systemName = name;
    port.devicePath = "/dev/" + name;
    port.bus = bus;
    if (bus == PortInfo::Bus::Usb) {
        port.stableName = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_" + name + "-if00-port0";
        port.description = "FT232R USB UART";
        port.vendorId = 0x0403;
        port.productId = 0x6001;
    }
    return port;
}

TEST(Watch, TakesUsbAdaptersAndVirtualBoardsThatMatch) {
    const PortInfo usb = portOf("ttyUSB0");
    const PortInfo onBoard = portOf("ttyS0", PortInfo::Bus::Other);
    const PortInfo virtualBoard = portOf("pts/4", PortInfo::Bus::Virtual);
    for (const auto& [port, pattern, watched] :
         std::vector<std::tuple<PortInfo, std::string, bool>>{
             {usb, "", true},
             {onBoard, "", false},
             {onBoard, "*", false},
             {virtualBoard, "", true},
             {usb, "ttyUSB?", true},
             {usb, "/dev/ttyUSB0", true},
             {usb, "*FTDI*", true},
             {usb, "FT232R*", true},
             {usb, "0403:*", true},
             {usb, "1a86:*", false},
         }) {
        EXPECT_EQ(station::isWatched(port, pattern), watched) << port.systemName << " " << pattern;
    }
}

// A probe is short: the firmware's handshake is two packets, a silent port is given up on after
// three Syncs.
TEST(Watch, TheProbeFindsOnlyAnAnsweringBoardAndHandsThePortBack) {
    for (const auto& [what, board, opens, answers, syncs] :
         std::vector<std::tuple<const char*, BoardConfig, bool, bool, std::size_t>>{
             {"firmware", {.mode = BoardMode::Update}, true, true, 2},
             {"loader", {.mode = BoardMode::Download}, true, false, 3},
             {"no port", {.mode = BoardMode::Update}, false, false, 0},
         }) {
        SCOPED_TRACE(what);
        SimulatedLine line(board);
        if (!opens) {
            line.faults.openFails = OpenFailure::Kind::NoSuchDevice;
        }
        EXPECT_EQ(probeBoard(line, "COM1"), answers);
        EXPECT_TRUE(handedBack(line));
        EXPECT_EQ(line.eventsOf(sim::PortEvent::Kind::Write).size(), syncs);
    }
}

// Plug events as the system sends them: the descriptor is readable while snapshots of the ports
// present remain to be listed; each event moves on to the next one.
struct ScriptedPlugs : PortWatcher {
    explicit ScriptedPlugs(std::vector<std::vector<PortInfo>> snapshots)
        : snapshots(std::move(snapshots)) {
        pokeWhileMoreRemain();
    }
    ~ScriptedPlugs() override { ::close(fd); }
    int eventDescriptor() const override { return fd; }
    bool takeEvents() override {
        std::uint64_t count = 0;
        if (::read(fd, &count, sizeof count) != sizeof count) {
            return false;
        }
        ++at;
        pokeWhileMoreRemain();
        return true;
    }
    void pokeWhileMoreRemain() const {
        const std::uint64_t one = 1;
        if (at + 1 < snapshots.size()) {
            [[maybe_unused]] const auto n = ::write(fd, &one, sizeof one);
        }
    }
    std::vector<std::vector<PortInfo>> snapshots;
    std::size_t at = 0;
    int fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
};

// A watch in virtual time: each port's boards, one per run on it, in order.
struct Station {
    std::map<std::string, std::deque<BoardConfig>> boards;
    std::map<std::string, std::vector<std::unique_ptr<SimulatedLine>>> lines;
    std::function<void(SimulatedLine&)> arm = [](SimulatedLine&) {};
    std::mutex lock;

    bool started(const std::string& port) {
        const std::lock_guard hold(lock);
        return lines.contains(port);
    }

    CliRun run(std::vector<std::string> args, std::vector<std::vector<PortInfo>> snapshots) {
        interruption::resetForTests();
        args.insert(args.begin(), {"zq417-flash", "watch"});
        std::vector<const char*> argv;
        for (const std::string& a : args) {
            argv.push_back(a.c_str());
        }
        std::ostringstream out;
        std::ostringstream err;
        SimulatedLine unused;
        cli::CliContext context{out, err, false, unused};
        // The watch lists the ports only once it watches them.
        ScriptedPlugs* plugs = nullptr;
        context.watchPorts = [&] {
            auto made = std::make_unique<ScriptedPlugs>(std::move(snapshots));
            plugs = made.get();
            return made;
        };
        context.listPorts = [&] {
            return plugs != nullptr ? plugs->snapshots[plugs->at] : std::vector<PortInfo>{};
        };
        context.platformFor = [this](const std::string& port) -> std::unique_ptr<Platform> {
            const std::lock_guard hold(lock);
            std::deque<BoardConfig>& queue = boards.at(port);
            auto& line = lines[port].emplace_back(std::make_unique<SimulatedLine>(queue.front()));
            if (queue.size() > 1) {
                queue.pop_front();
            }
            line->deviceName = port;
            arm(*line);
            return std::make_unique<ForwardingPlatform>(*line);
        };
        CliRun result;
        result.status = cli::runCli(static_cast<int>(argv.size()), argv.data(), context);
        result.out = out.str();
        result.err = err.str();
        return result;
    }
};

// A port given to watch that another program holds is said once, not at every probe; its board
// is flashed once the port is let go.
TEST(Watching, APortHeldByAnotherProgramIsSaidOnce) {
    Station station;
    station.boards["/dev/ttyUSB7"] = {{.mode = BoardMode::Update}};
    int opens = 0;
    station.arm = [&](SimulatedLine& line) {
        if (++opens <= 3) {
            line.faults.openFails = OpenFailure::Kind::Busy;
        }
    };
    const CliRun run = station.run({"--port", "/dev/ttyUSB7", "--count", "1", "--quiet"}, {{}});
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string held = "watch: /dev/ttyUSB7: the port is held by another program";
    EXPECT_EQ(run.err.find(held), run.err.rfind(held)) << run.err;
    EXPECT_NE(run.err.find(held), std::string::npos) << run.err;
}

// A and B come at once and C later; A is pulled while it runs (its line drops) and is back with
// C, so a new board there is flashed too. The watch ends at the count, with the first failure's
// status.
TEST(Watching, EachPlugIsOneBoardWithItsOwnLinesUntilTheCount) {
    Station station;
    const PortInfo onBoard = portOf("ttyS0", PortInfo::Bus::Other);
    const PortInfo a = portOf("ttyUSB0");
    const PortInfo b = portOf("ttyUSB1");
    const PortInfo c = portOf("ttyUSB2");
    station.boards[a.devicePath] = {{.mode = BoardMode::Update, .dropAfterBytes = 2000},
                                    {.mode = BoardMode::Update}};
    station.boards[b.devicePath] = {{.mode = BoardMode::Update}};
    station.boards[c.devicePath] = {{.mode = BoardMode::Update}};
    const CliRun run = station.run({"--json", "--count", "4"},
                                   {{onBoard, a, b}, {onBoard, b}, {onBoard, a, b, c}});
    EXPECT_EQ(run.status, 1) << run.err;
    for (const auto& [port, runs] : {std::pair{a, 2u}, std::pair{b, 1u}, std::pair{c, 1u}}) {
        EXPECT_EQ(station.lines[port.devicePath].size(), runs) << port.devicePath;
        EXPECT_TRUE(contains(run.out, "\"port\":\"" + port.devicePath + "\"")) << run.out;
        EXPECT_TRUE(contains(
            run.err, "watch: board on " + port.devicePath + " (FT232R USB UART, 0403:6001)\n"))
            << run.err;
    }
    EXPECT_EQ(std::ranges::count(run.out, '\n'), 5) << "one JSON line per board, the summary";
    EXPECT_TRUE(contains(run.err,
                         "summary: 3 of 4 boards succeeded\nsummary: /dev/ttyUSB0 pulled (exit 1): "
                         "the board or its adapter went away during the image's transfer"))
        << run.err;
}

// The board programming its EEPROM is waited for and its failure reported; the other one, still
// probing, is cut short, and the signal decides the status.
TEST(Watching, ASignalEndsTheWatchAfterTheProgrammingBoardsResult) {
    Station station;
    const PortInfo a = portOf("ttyUSB0");
    const PortInfo b = portOf("ttyUSB1");
    station.boards[a.devicePath] = {{.mode = BoardMode::Update, .statusValue = 0x0080}};
    station.boards[b.devicePath] = {{.mode = BoardMode::Download}};
    // The board downloading waits for the signal, which comes once it has started and the
    // other board programs; the real wake pipe wakes the watch.
    ASSERT_TRUE(posix::armInterruptPipe());
    station.arm = [&](SimulatedLine& line) {
        const bool downloading = line.board.config().mode == BoardMode::Download;
        line.faults.onSleep = [&, downloading](std::chrono::milliseconds asked) {
            for (int i = 0; i < 5000 && (downloading ? interruption::count() == 0
                                                     : !station.started(b.devicePath));
                 ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            if (!downloading && asked == std::chrono::milliseconds(5000)) {
                interruption::raise(SIGINT);
            }
        };
    };
    const CliRun run = station.run({"--quiet"}, {{a, b}});
    EXPECT_EQ(run.status, 130) << run.err;
    ASSERT_TRUE(station.started(b.devicePath));
    EXPECT_TRUE(handedBack(*station.lines[b.devicePath].front()));
    EXPECT_TRUE(contains(run.err,
                         "summary: 0 of 2 boards succeeded\nsummary: /dev/ttyUSB0 failed (exit 1): "
                         "the board reported status 0x0080 after programming (bit 7: programming "
                         "failed)\nsummary: /dev/ttyUSB1 interrupted by signal 2 (exit 130)\n"))
        << run.err;
    interruption::resetForTests();
}

}  // namespace
}  // namespace zq::test
