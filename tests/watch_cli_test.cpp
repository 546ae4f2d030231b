// The station (watch): which boards it flashes as ports come and go, and whole watches in virtual
// time against plug events recorded as snapshots of the ports present.
#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/cli/command_line.h"
#include "app/cli/interruption_watch.h"
#include "app/cli/plug_tracker.h"
#include "app/cli/watch_command.h"
#include "serial/forwarding_platform.h"
#include "serial/interruption.h"
#include "support/cli_run.h"
#include "support/sim_fixture.h"
#include "transfer/operation.h"

namespace zq::test {
namespace {

using sim::BoardConfig;
using sim::BoardMode;
using sim::SimulatedLine;

bool contains(const std::string& text, std::string_view part) {
    return text.find(part) != std::string::npos;
}

// Steps: "A B>B" lists A and B as present and expects B to start; "A+" ends A's run and expects
// it to start again (its port went and came back meanwhile), "A." expects it not to.
TEST(PlugTracker, EachBoardIsFlashedOncePerPlug) {
    const std::vector<std::pair<const char*, std::vector<std::string>>> cases = {
        {"at once, then staying plugged", {"A B>A B", "A.", "A B>", "B.", "A B>"}},
        {"one after another", {"A>A", "A B>B", "A.", "A B C>C"}},
        {"unplugged after its result, plugged again", {"A>A", "A.", ">", "A>A"}},
        {"pulled while it ran and back before its result", {"A>A", ">", "A>", "A+", "A."}},
        {"pulled while it ran and back after its result", {"A>A", ">", "A.", "A>A"}},
        {"pulled, back and pulled again while it ran", {"A>A", ">", "A>", ">", "A.", "A>A"}},
    };
    for (const auto& [what, steps] : cases) {
        SCOPED_TRACE(what);
        cli::PlugTracker tracker;
        for (const std::string& step : steps) {
            SCOPED_TRACE(step);
            const std::size_t arrow = step.find('>');
            if (arrow == std::string::npos) {
                EXPECT_EQ(tracker.finished(step.substr(0, 1)), step[1] == '+');
                continue;
            }
            std::vector<std::string> present;
            std::istringstream in(step.substr(0, arrow));
            for (std::string port; in >> port;) {
                present.push_back(port);
            }
            std::string started;
            for (const std::string& port : tracker.present(present)) {
                started += (started.empty() ? "" : " ") + port;
            }
            EXPECT_EQ(started, step.substr(arrow + 1));
        }
    }
}

PortInfo portOf(const std::string& name, PortInfo::Bus bus) {
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

PortInfo usbPort(const std::string& name) {
    return portOf(name, PortInfo::Bus::Usb);
}

TEST(Watch, TakesUsbAdaptersAndVirtualBoardsThatMatch) {
    const PortInfo usb = usbPort("ttyUSB0");
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
             {virtualBoard, "ttyUSB*", false},
         }) {
        EXPECT_EQ(cli::isWatched(port, pattern), watched) << port.systemName << " " << pattern;
    }
}

TEST(Watch, TheProbeFindsOnlyAnAnsweringBoardAndHandsThePortBack) {
    for (const auto& [what, board, opens, answers] :
         std::vector<std::tuple<const char*, BoardConfig, bool, bool>>{
             {"firmware", {.mode = BoardMode::Update}, true, true},
             {"loader", {.mode = BoardMode::Download}, true, false},
             {"no port", {.mode = BoardMode::Update}, false, false},
         }) {
        SCOPED_TRACE(what);
        SimulatedLine line(board);
        if (!opens) {
            line.faults.openFails = OpenFailure::Kind::NoSuchDevice;
        }
        EXPECT_EQ(probeBoard(line, "COM1"), answers);
        EXPECT_TRUE(handedBack(line));
        // Short: a silent port is given up on after a few Syncs.
        EXPECT_LE(line.eventsOf(sim::PortEvent::Kind::Write).size(), 3u);
    }
}

// Plug events as the system sends them: the descriptor is readable while snapshots of the ports
// present remain to be listed; each event moves on to the next one.
class ScriptedPlugs : public PortWatcher {
  public:
    explicit ScriptedPlugs(std::vector<std::vector<PortInfo>> snapshots)
        : snapshots_(std::move(snapshots)), fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
        poke(snapshots_.size() > 1);
    }
    ~ScriptedPlugs() override { ::close(fd_); }

    int eventDescriptor() const override { return fd_; }
    bool takeEvents() override {
        std::uint64_t count = 0;
        if (::read(fd_, &count, sizeof count) != sizeof count) {
            return false;
        }
        at_ = std::min(at_ + 1, snapshots_.size() - 1);
        poke(at_ + 1 < snapshots_.size());
        return true;
    }
    std::vector<PortInfo> present() const { return snapshots_[at_]; }
    void poke(bool when = true) const {
        const std::uint64_t one = 1;
        if (when) {
            [[maybe_unused]] const auto n = ::write(fd_, &one, sizeof one);
        }
    }

  private:
    std::vector<std::vector<PortInfo>> snapshots_;
    std::size_t at_ = 0;
    int fd_;
};

// A watch in virtual time: each port's boards, one per run on it, in order.
struct Station {
    std::map<std::string, std::deque<BoardConfig>> boards;
    std::map<std::string, std::vector<std::unique_ptr<SimulatedLine>>> lines;
    std::function<void(SimulatedLine&)> arm = [](SimulatedLine&) {};
    // Runs in the programming wait; a signal sent there must wake the watch too, as the real
    // wake pipe does.
    std::function<void(ScriptedPlugs&)> signalWhileProgramming = [](ScriptedPlugs&) {};
    std::mutex lock;

    CliRun run(std::vector<std::string> args, std::vector<std::vector<PortInfo>> snapshots) {
        args.insert(args.begin(), {"zq417-flash", "watch"});
        std::vector<const char*> argv;
        for (const std::string& a : args) {
            argv.push_back(a.c_str());
        }
        std::ostringstream out;
        std::ostringstream err;
        SimulatedLine unused;
        cli::CliContext context{out, err, false, unused};
        auto plugs = std::make_shared<ScriptedPlugs>(std::move(snapshots));
        context.listPorts = [plugs] { return plugs->present(); };
        context.watchPorts = [plugs]() -> std::unique_ptr<PortWatcher> {
            struct Shared : PortWatcher {
                std::shared_ptr<ScriptedPlugs> to;
                int eventDescriptor() const override { return to->eventDescriptor(); }
                bool takeEvents() override { return to->takeEvents(); }
            };
            auto watcher = std::make_unique<Shared>();
            watcher->to = plugs;
            return watcher;
        };
        context.platformFor = [this, plugs](const std::string& port) -> std::unique_ptr<Platform> {
            const std::lock_guard hold(lock);
            std::deque<BoardConfig>& queue = boards.at(port);
            auto& line = lines[port].emplace_back(std::make_unique<SimulatedLine>(queue.front()));
            if (queue.size() > 1) {
                queue.pop_front();
            }
            line->deviceName = port;
            line->faults.onSleep = [plugs, this](std::chrono::milliseconds d) {
                if (d == std::chrono::milliseconds(5000)) {
                    signalWhileProgramming(*plugs);
                }
            };
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

class Watching : public ::testing::Test {
  protected:
    void SetUp() override { interruption::resetForTests(); }
    void TearDown() override { interruption::resetForTests(); }
};

TEST_F(Watching, BoardsAppearingOneAfterAnotherAndAtOnceAreEachFlashedOnce) {
    Station station;
    std::vector<PortInfo> ports;
    for (const char* name : {"ttyUSB0", "ttyUSB1", "ttyUSB2", "ttyUSB3"}) {
        ports.push_back(usbPort(name));
        station.boards[ports.back().devicePath] = {{.mode = BoardMode::Update}};
    }
    const PortInfo onBoard = portOf("ttyS0", PortInfo::Bus::Other);
    const CliRun run = station.run({"--json", "--count", "4"},
                                   {{onBoard, ports[0]},
                                    {onBoard, ports[0], ports[1]},
                                    {onBoard, ports[0], ports[1], ports[2], ports[3]}});
    EXPECT_EQ(run.status, 0) << run.err;
    for (const PortInfo& port : ports) {
        EXPECT_EQ(station.lines[port.devicePath].size(), 1u) << port.devicePath;
        EXPECT_TRUE(contains(run.out, "\"port\":\"" + port.devicePath + "\"")) << run.out;
        EXPECT_TRUE(contains(
            run.err, "watch: board on " + port.devicePath + " (FT232R USB UART, 0403:6001)\n"))
            << run.err;
    }
    EXPECT_EQ(std::ranges::count(run.out, '\n'), 4) << "one JSON line per board";
    EXPECT_TRUE(contains(run.err, "summary: 4 of 4 boards succeeded\n")) << run.err;
}

TEST_F(Watching, ABoardPulledMidRunFailsAndIsFlashedAgainWhenItComesBack) {
    Station station;
    const PortInfo a = usbPort("ttyUSB0");
    const PortInfo b = usbPort("ttyUSB1");
    station.boards[a.devicePath] = {{.mode = BoardMode::Update, .dropAfterBytes = 2000},
                                    {.mode = BoardMode::Update}};
    station.boards[b.devicePath] = {{.mode = BoardMode::Update}};
    const CliRun run = station.run({"--quiet", "--count", "3"}, {{a, b}, {b}, {a, b}});
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(station.lines[a.devicePath].size(), 2u);
    EXPECT_EQ(station.lines[b.devicePath].size(), 1u);
    EXPECT_TRUE(contains(run.err,
                         "summary: 2 of 3 boards succeeded\nsummary: 1 board failed "
                         "(exit 1)\n"))
        << run.err;
}

// The board programming its EEPROM is waited for and its failure reported; the other one, still
// probing, is cut short, and the signal decides the status.
TEST_F(Watching, ASignalEndsTheWatchAfterTheProgrammingBoardsResult) {
    Station station;
    const PortInfo a = usbPort("ttyUSB0");
    const PortInfo b = usbPort("ttyUSB1");
    station.boards[a.devicePath] = {{.mode = BoardMode::Update, .statusValue = 0x0080}};
    station.boards[b.devicePath] = {{.mode = BoardMode::Download}};
    // Only once the other board has started: a board not yet started is never started after it.
    station.signalWhileProgramming = [&station, &b](ScriptedPlugs& plugs) {
        const auto started = [&] {
            const std::lock_guard hold(station.lock);
            return station.lines.contains(b.devicePath);
        };
        for (int i = 0; i < 5000 && !started(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        interruption::raise(SIGINT);
        plugs.poke();
    };
    station.arm = [](SimulatedLine& line) {
        if (line.board.config().mode == BoardMode::Download) {
            line.faults.onSleep = [](std::chrono::milliseconds) {
                for (int i = 0; i < 5000 && interruption::count() == 0; ++i) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
            };
        }
    };
    const CliRun run = station.run({"--quiet"}, {{a, b}});
    EXPECT_EQ(run.status, 130) << run.err;
    EXPECT_TRUE(contains(run.err, std::string(cli::programmingNotice()))) << run.err;
    EXPECT_TRUE(contains(run.err, a.devicePath + ": EEPROM program fail!")) << run.err;
    EXPECT_TRUE(handedBack(*station.lines[b.devicePath].front()));
    EXPECT_TRUE(contains(run.err,
                         "summary: 0 of 2 boards succeeded\nsummary: 1 board failed "
                         "(exit 1)\nsummary: 1 board interrupted by signal 2 (exit "
                         "130)\n"))
        << run.err;
}

}  // namespace
}  // namespace zq::test
