// A production station's command line in virtual time: the result log and retries of a board that
// failed.
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <nlohmann/json.hpp>

#include "app/cli/board_tries.h"
#include "protocol/packet_ops.h"
#include "serial/interruption.h"
#include "sim/simulated_line.h"
#include "support/cli_run.h"
#include "support/image_files.h"
#include "text/messages.h"

namespace zq::test {
namespace {

using Json = nlohmann::json;
using sim::BoardMode;
using sim::PortEvent;
using sim::SimulatedLine;

// Every test starts and ends with no signal noted: the record is the process's.
class Station : public ::testing::Test {
  protected:
    void SetUp() override { interruption::resetForTests(); }
    void TearDown() override { interruption::resetForTests(); }
};

TEST_F(Station, TheLogGetsEachResultAsItsJsonLineAndKeepsWhatItHeld) {
    TempDir dir;
    const std::string log = (dir / "results.jsonl").string();
    SimulatedLine line({.mode = BoardMode::Update});
    const CliRun json = runCliWith({"flash", "--json", "--log", log}, line);
    EXPECT_EQ(json.status, 0);
    EXPECT_EQ(Json::parse(json.out).at("attempts"), 1);
    SimulatedLine plain({.mode = BoardMode::Download});
    EXPECT_EQ(runCliWith({"download", "--trace", "--log", log}, plain).status, 0);
    std::ifstream in(log);
    std::vector<std::string> logged;
    for (std::string entry; std::getline(in, entry);) {
        logged.push_back(entry);
    }
    ASSERT_EQ(logged.size(), 2u);
    EXPECT_EQ(logged[0] + "\n", json.out);
    EXPECT_EQ(Json::parse(logged[1]).at("performed"), "download");
}

TEST_F(Station, ALogThatCannotBeOpenedStopsTheRunBeforeAnyPortAndOneThatFailsLaterIsReported) {
    TempDir dir;
    const std::string missing = (dir / "none" / "results.jsonl").string();
    SimulatedLine untouched;
    const CliRun refused = runCliWith({"download", "--log", missing}, untouched);
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.err,
              "--log " + missing + ": cannot open it to add results: No such file or directory\n");
    EXPECT_TRUE(untouched.events.empty());

    SimulatedLine line({.mode = BoardMode::Update});
    const CliRun full = runCliWith({"flash", "--json", "--log", "/dev/full"}, line);
    EXPECT_EQ(full.status, 0);
    EXPECT_EQ(Json::parse(full.out).at("log_error"), "No space left on device");
    EXPECT_NE(full.err.find("--log /dev/full: this board's result could not be added"),
              std::string::npos)
        << full.err;
}

// A board that took the loader but whose firmware missed the handshake: the next try finds the
// firmware answering and runs an Update.
TEST_F(Station, ABoardFailedOnTheLineIsTriedAgainAndProbedAfresh) {
    SimulatedLine line({.mode = BoardMode::Download, .answerFromSync = SyncTries + 1});
    const CliRun run = runCliWith({"flash", "--json", "--retries", "2"}, line);
    EXPECT_EQ(run.status, 0) << run.err;
    const Json result = Json::parse(run.out);
    EXPECT_EQ(result.at("attempts"), 2);
    EXPECT_EQ(result.at("performed"), "update");
    ASSERT_EQ(result.at("messages").size(), 2u);
    EXPECT_EQ(result.at("messages")[0].at("text"), messages::BoardNotAnswering.download);
    EXPECT_EQ(result.at("messages")[1].at("text"), messages::Success.update);
    EXPECT_EQ(line.eventsOf(PortEvent::Kind::Open).size(), 2u);
}

// Only a failure on the board or the line is tried again; whatever else ended the first try
// would end the next one the same way, and after a signal, even one that the programming held
// off, nothing more is started.
TEST_F(Station, NoOtherFailureIsTriedAgain) {
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
    sim::PortFaults absent;
    absent.openFails = OpenFailure::Kind::NoSuchDevice;
    const sim::BoardConfig silent{.silent = true};
    struct Case {
        const char* what;
        std::string image;
        sim::BoardConfig board;
        sim::PortFaults faults;
        int status;
        std::size_t opens;
    } const cases[] = {
        {"image refused", (dir / "empty.bin").string(), silent, {}, 4, 0},
        {"port not opened", "", silent, absent, 3, 1},
        {"a signal in the pause", "", silent, signalInSleepOf(cli::RetryPause), 128 + SIGTERM, 1},
        {"a signal while the board programs, then its failure",
         "",
         {.statusValue = 0x0080},
         signalInSleepOf(std::chrono::milliseconds(5000)),
         1,
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
        EXPECT_EQ(Json::parse(run.out).at("attempts"), 1);
        EXPECT_EQ(line.eventsOf(PortEvent::Kind::Open).size() +
                      line.eventsOf(PortEvent::Kind::OpenFailed).size(),
                  c.opens);
    }
}

}  // namespace
}  // namespace zq::test
