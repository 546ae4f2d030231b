// zq417-flash against zq417-sim as a user runs them: programs with pseudo-terminals between them,
// in real time, for what only real processes show. Bounds are generous for a busy machine; the
// outcomes, texts and exact timing rules are asserted in virtual time elsewhere.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "support/port_snapshot.h"
#include "support/sim_process.h"
#include "support/text_lines.h"

namespace zq::test {
namespace {

using namespace std::chrono_literals;

// A Download takes about 8 s; one that is still going after this has hung.
constexpr std::chrono::milliseconds RunLimit = 30s;

// What the board is sent: the 5695-byte image padded to an even length goes to the loader, and
// the same with the 32-byte boot header in front goes to the firmware.
constexpr std::string_view LoaderTook = "loader: 5696 image bytes received, image started";
constexpr std::string_view FirmwareTook = "Data: 5728 bytes received, acknowledged";

int countLogged(const std::string& log, std::string_view text) {
    int count = 0;
    for (std::size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) {
        ++count;
    }
    return count;
}

// One run of zq417-flash, both output streams captured.
struct Flash : ChildProcess {
    explicit Flash(std::vector<std::string> args)
        : ChildProcess(ZQ417_FLASH_PATH, std::move(args), true) {
        raisePriority();
    }
};

// Two boards paced as real ones answer, one whose line drops inside the loader's image, and a
// port that is not there, in one command: each line is written as its board ends, and the first
// board to fail in the order given decides the status.
TEST(FlashOnSim, SeveralBoardsAreFlashedAtOnceInRealTimeEachWithAJsonLineAsItEnds) {
    SimProcess paced({"--boards", "2"});
    SimProcess dropping({"--no-pacing", "--quiet", "--drop-after", "3000"});
    const std::vector<std::string> devices = {paced.devicePath(), paced.devicePath(),
                                              "/dev/zq417-absent", dropping.devicePath()};
    std::vector<std::string> args = {"flash", "--json", "--quiet"};
    for (const std::string& device : devices) {
        ASSERT_FALSE(device.empty());
        args.insert(args.end(), {"--port", device});
    }
    Flash flash(args);
    ASSERT_EQ(flash.waitForExit(RunLimit), 3) << flash.err();
    std::vector<nlohmann::json> lines;
    std::istringstream out(flash.out());
    for (std::string text; std::getline(out, text);) {
        lines.push_back(nlohmann::json::parse(text));
    }
    ASSERT_EQ(lines.size(), 5u) << flash.out();
    EXPECT_EQ(lines.back().at("summary").at("exit"), 3);
    lines.pop_back();
    // One board after another would end in the order given.
    EXPECT_EQ(lines[0].at("port"), devices[2]);
    EXPECT_EQ(lines[1].at("port"), devices[3]);
    // The hang-up reaches the host inside the image's write or when the next phase sets the line
    // up: a board failure either way.
    EXPECT_EQ(lines[1].at("exit"), 1) << lines[1];
    EXPECT_TRUE(contains(lines[1].at("reason").get<std::string>(),
                         "went away during the loader's transfer"))
        << lines[1];
    EXPECT_EQ(lines[2].at("ok"), true) << lines[2];
    EXPECT_EQ(lines[3].at("ok"), true) << lines[3];
    // Each paced board took the whole image, as loader and as firmware.
    EXPECT_EQ(paced.stop(), 0);
    EXPECT_EQ(countLogged(paced.out(), LoaderTook), 2) << paced.out();
    EXPECT_EQ(countLogged(paced.out(), FirmwareTook), 2) << paced.out();
}

// Every signal that would end the process ends the run at once with the shell's 128 + its
// number, the port back at the settings found at the start and its exclusive flag cleared.
TEST(FlashOnSim, EachSignalEndsTheRunWithThePortAsFound) {
    constexpr int Signals[] = {SIGHUP, SIGINT, SIGQUIT, SIGALRM, SIGTERM, SIGUSR1, SIGUSR2};
    constexpr std::size_t Count = std::size(Signals);
    // A board that never answers holds each run in its handshake: sixty tries, 1.5 s.
    SimProcess sim(
        {"--boards", std::to_string(Count), "--mode", "update", "--silent", "--no-pacing"});
    std::vector<std::string> devices;
    std::vector<PortSnapshot> before;
    for (std::size_t k = 0; k < Count; ++k) {
        devices.push_back(sim.devicePath());
        const std::optional<PortSnapshot> found = snapshot(devices.back());
        ASSERT_TRUE(found.has_value() && found->exclusive == 0) << devices.back();
        before.push_back(*found);
    }
    std::vector<std::unique_ptr<Flash>> runs;
    for (const std::string& device : devices) {
        runs.push_back(std::make_unique<Flash>(
            std::vector<std::string>{"update", "--quiet", "--port", device}));
    }
    // Each run gets its signal once its board has seen the second Sync.
    std::vector<bool> signalled(Count, false);
    for (std::size_t left = Count; left > 0;) {
        const std::optional<std::string> line = sim.readLine(RunLimit);
        ASSERT_TRUE(line.has_value()) << sim.out();
        std::size_t k = Count;
        if (std::sscanf(line->c_str(), "board %zu: ", &k) == 1 && k < Count && !signalled[k] &&
            line->find("Sync #2:") != std::string::npos) {
            runs[k]->signal(Signals[k]);
            signalled[k] = true;
            --left;
        }
    }
    for (std::size_t k = 0; k < Count; ++k) {
        SCOPED_TRACE("signal " + std::to_string(Signals[k]));
        EXPECT_EQ(runs[k]->waitForExit(RunLimit), 128 + Signals[k]) << runs[k]->err();
        expectAsFound(devices[k], before[k]);
    }
}

// The reader of standard output goes away (`| head -c 0`) while one board programs its EEPROM
// and another is still being probed: the next JSON line finds no reader, which ends the run as
// SIGPIPE would; the programming board is finished first and the probed one is stopped, and each
// is handed back as found.
TEST(FlashOnSim, ALostReaderStopsTheRunYetLetsAProgrammingBoardFinish) {
    SimProcess programming({"--mode", "update", "--no-pacing"});
    SimProcess probing({"--no-pacing"});
    // Its line hangs up after thirty Syncs, about 0.75 s in, well inside the 1.5 s probe of a
    // board in download mode.
    SimProcess dropping({"--no-pacing", "--quiet", "--drop-after", "180"});
    std::vector<std::string> args = {"flash", "--json", "--quiet"};
    std::vector<std::string> devices;
    std::vector<PortSnapshot> before;
    for (SimProcess* sim : {&programming, &probing, &dropping}) {
        devices.push_back(sim->devicePath());
        ASSERT_FALSE(devices.back().empty());
        args.insert(args.end(), {"--port", devices.back()});
        before.push_back(snapshot(devices.back()).value_or(PortSnapshot{}));
    }
    Flash flash(args);
    ASSERT_TRUE(awaitLog(programming, FirmwareTook)) << programming.out();
    flash.stopReading(0);
    EXPECT_EQ(flash.waitForExit(RunLimit), 128 + SIGPIPE) << flash.err();
    EXPECT_TRUE(awaitLog(programming, "Query 0xF2: value 0x0000")) << programming.out();
    expectAsFound(devices[0], before[0]);
    expectAsFound(devices[1], before[1]);
    EXPECT_EQ(probing.stop(), 0);
    EXPECT_EQ(countLogged(probing.out(), "LoaderCommand"), 0) << probing.out();
}

// Each stream lost in its own way: no result goes missing without a word, and the status is the
// board's whenever its result is known.
TEST(FlashOnSim, ALostStreamLosesNoResultAndCutsShortOnlyAnOperationUnderWay) {
    struct Case {
        const char* name;
        const char* redirect;  // of the shell that runs the program
        std::vector<std::string> args;
        int status;
        std::string_view out;  // a part of standard output
        std::string_view err;  // a part of standard error
    };
    const std::vector<Case> cases = {
        {"error's reader gone while the board programs", "", {"--json"}, 0, "\"ok\":true", ""},
        {"output on a full disk", ">/dev/full", {"--json", "--quiet"}, 6, "", "\"ok\":true"},
        {"output closed", ">&-", {"--json", "--quiet"}, 6, "", "Bad file descriptor"},
        {"text with no reader of errors", "", {}, 141, "Interrupted", ""},
    };
    SimProcess sim({"--boards", std::to_string(cases.size()), "--mode", "update", "--no-pacing"});
    std::vector<std::unique_ptr<ChildProcess>> runs;
    for (const Case& c : cases) {
        std::vector<std::string> args = {"-c",
                                         std::string("exec \"$0\" \"$@\" ") + c.redirect,
                                         ZQ417_FLASH_PATH,
                                         "update",
                                         "--port",
                                         sim.devicePath()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        runs.push_back(std::make_unique<ChildProcess>("/bin/sh", args, true));
        if (c.status == 141) {
            runs.back()->stopReading(1);
        }
    }
    // The first board's status was asked: its result is known from here on.
    for (bool asked = false; !asked;) {
        const std::optional<std::string> line = sim.readLine(RunLimit);
        ASSERT_TRUE(line.has_value()) << sim.out();
        asked = line->starts_with("board 0: ") && contains(*line, "Query 0xF2: value 0x0000");
    }
    runs[0]->stopReading(1);
    for (std::size_t k = 0; k < cases.size(); ++k) {
        const Case& c = cases[k];
        SCOPED_TRACE(c.name);
        EXPECT_EQ(runs[k]->waitForExit(RunLimit), c.status) << runs[k]->err();
        EXPECT_TRUE(contains(runs[k]->out(), c.out)) << runs[k]->out();
        EXPECT_TRUE(contains(runs[k]->err(), c.err)) << runs[k]->err();
    }
}

}  // namespace
}  // namespace zq::test
