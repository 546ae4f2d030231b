// The production line's command line in virtual time: failures that touch no board, several
// boards in one command, JSON lines and plain progress lines.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli/command_line.h"
#include "app/cli/image_choice.h"
#include "image/built_in_image.h"
#include "protocol/command_packet.h"
#include "serial/forwarding_platform.h"
#include "support/cli_run.h"
#include "support/image_files.h"
#include "support/sim_fixture.h"
#include "text/messages.h"

namespace zq::test {
namespace {

using sim::BoardConfig;
using sim::BoardMode;
using sim::SimulatedLine;
using Json = nlohmann::json;

// The line every transfer prints before it sends anything.
const std::string BuiltInIdentity =
    cli::identityLine(identifyImage("built-in", {builtInImage(), BuiltInImageLength})) + "\n";

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// A plain progress line without the time in front of it.
std::string unstamped(const std::string& line) {
    static const std::regex stamp(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z )");
    return std::regex_replace(line, stamp, "");
}

bool contains(const std::string& text, std::string_view part) {
    return text.find(part) != std::string::npos;
}

// The boards of a run with several ports: a simulated line of its own for each port, made when
// the run asks for the port's platform.
struct Boards {
    std::map<std::string, BoardConfig> configs;
    std::map<std::string, std::unique_ptr<SimulatedLine>> lines;
    std::mutex lock;

    CliRun run(std::vector<std::string> args, bool terminal = false) {
        args.insert(args.begin(), "zq417-flash");
        std::vector<const char*> argv;
        for (const std::string& a : args) {
            argv.push_back(a.c_str());
        }
        std::ostringstream out;
        std::ostringstream err;
        SimulatedLine unused;
        cli::CliContext context{out, err, terminal, unused};
        context.platformFor = [this](const std::string& port) -> std::unique_ptr<Platform> {
            const std::lock_guard hold(lock);
            auto& line = lines[port] = std::make_unique<SimulatedLine>(configs.at(port));
            line->deviceName = port;
            // Lent to the run, which owns its platforms, so the test can read the line after.
            return std::make_unique<ForwardingPlatform>(*line);
        };
        CliRun result;
        result.status = cli::runCli(static_cast<int>(argv.size()), argv.data(), context);
        result.out = out.str();
        result.err = err.str();
        return result;
    }
};

BoardConfig board(BoardMode mode) {
    return BoardConfig{.mode = mode};
}

// ---------------------------------------------------------------------------------------------
// Failures before any board is touched

TEST(ExitStatus, ImageAndUsageFailuresTouchNoBoard) {
    TempDir dir;
    std::ofstream(dir / "empty.bin").close();
    SimulatedLine untouched;
    const CliRun empty = runCliWith({"update", "--image", (dir / "empty.bin").string()}, untouched);
    EXPECT_EQ(empty.status, 4);
    EXPECT_TRUE(contains(empty.err, "empty")) << empty.err;
    const CliRun missing =
        runCliWith({"download", "--image", (dir / "missing.bin").string()}, untouched);
    EXPECT_EQ(missing.status, 4);
    EXPECT_TRUE(contains(missing.err, messages::CannotOpenImageFile));

    EXPECT_EQ(runCliWith({"flash", "--port", "COM2", "--port", "com2"}, untouched).status, 2);
    EXPECT_EQ(runCliWith({"flash", "--bogus"}, untouched).status, 2);
    EXPECT_TRUE(untouched.events.empty());
}

// ---------------------------------------------------------------------------------------------
// Several boards, JSON

TEST(SeveralBoards, OneFailingBoardStopsNoOtherAndTheSummaryAndStatusNameIt) {
    Boards boards;
    const std::vector<std::string> ports = {"/dev/ttyB0", "/dev/ttyB1", "/dev/ttyB2", "/dev/ttyB3"};
    boards.configs[ports[0]] = board(BoardMode::Download);
    boards.configs[ports[1]] = board(BoardMode::Update);
    boards.configs[ports[2]] = board(BoardMode::Update);
    boards.configs[ports[2]].statusValue = 0x0080;
    boards.configs[ports[3]] = board(BoardMode::Update);
    std::vector<std::string> args = {"flash"};
    for (const std::string& p : ports) {
        args.insert(args.end(), {"--port", p});
    }
    const CliRun run = boards.run(args);
    EXPECT_EQ(run.status, 1);
    for (const std::string& p : {ports[0], ports[1], ports[3]}) {
        EXPECT_EQ(boards.lines[p]->board.imagesProgrammed(), 1) << p;
    }
    // Every line names its board, whole: no line of one board runs into another's.
    for (const std::string& stamped : linesOf(run.out + run.err)) {
        const std::string line = unstamped(stamped);
        if (line.rfind("summary: ", 0) == 0) {
            continue;
        }
        ASSERT_EQ(line.rfind("/dev/ttyB", 0), 0u) << line;
        EXPECT_EQ(line.find("/dev/ttyB", 1), std::string::npos) << line;
    }
    EXPECT_TRUE(contains(run.out, ports[0] + ": DownLoad success!\n"));
    EXPECT_TRUE(contains(run.out, ports[1] + ": Update success!\n"));
    EXPECT_TRUE(contains(run.err, ports[2] + ": EEPROM program fail!\n" + ports[2] +
                                      ": Please check the followings:\n"));
    EXPECT_TRUE(contains(run.err,
                         "summary: 3 of 4 boards succeeded\nsummary: /dev/ttyB2 failed "
                         "(exit 1): the board reported status 0x0080"))
        << run.err;
}

TEST(SeveralBoards, JsonLinesCarryEveryFieldAndTheBoxesAsShown) {
    Boards boards;
    boards.configs["/dev/ttyB0"] = board(BoardMode::Update);
    boards.configs["/dev/ttyB1"] = board(BoardMode::Update);
    const CliRun run =
        boards.run({"download", "--json", "--port", "/dev/ttyB0", "--port", "/dev/ttyB1"});
    EXPECT_EQ(run.status, 5);
    const std::vector<std::string> lines = linesOf(run.out);
    ASSERT_EQ(lines.size(), 2u) << run.out;
    std::set<std::string> seen;
    for (const std::string& text : lines) {
        const Json j = Json::parse(text);
        seen.insert(j.at("port"));
        EXPECT_EQ(j.at("device"), j.at("port"));
        EXPECT_EQ(j.at("operation"), "download");
        EXPECT_EQ(j.at("performed"), "download");
        EXPECT_EQ(j.at("ok"), false);
        EXPECT_EQ(j.at("exit"), 5);
        ASSERT_EQ(j.at("messages").size(), 1u);
        EXPECT_EQ(j.at("messages")[0].at("title"), "Error");
        EXPECT_EQ(j.at("messages")[0].at("text"), messages::BoardInUpdateMode.download);
        EXPECT_TRUE(contains(j.at("reason").get<std::string>(), "answered the handshake"));
        EXPECT_EQ(j.at("board_mode"), "update");
        EXPECT_TRUE(j.at("status").is_null());
        EXPECT_EQ(j.at("image").at("name"), "built-in");
        EXPECT_EQ(j.at("image").at("length"), 5695);
        EXPECT_TRUE(std::regex_match(j.at("image").at("sha256").get<std::string>(),
                                     std::regex("[0-9a-f]{64}")));
        // In the line's virtual time: each run starts as its line does, and lasts as long as the
        // line's clock has run.
        EXPECT_EQ(j.at("started"), "2024-05-01T00:00:00.000Z");
        const SimulatedLine& line = *boards.lines.at(j.at("port").get<std::string>());
        EXPECT_EQ(j.at("seconds").get<double>(),
                  std::chrono::duration<double>(line.clock.now()).count());
    }
    EXPECT_EQ(seen.size(), 2u);
    EXPECT_FALSE(contains(run.err, "Error occurs")) << "boxes go into the JSON only";
    EXPECT_TRUE(contains(run.err, "summary: 0 of 2 boards succeeded"));

    SimulatedLine line(board(BoardMode::Update));
    const Json ok = Json::parse(runCliWith({"flash", "--json"}, line).out);
    EXPECT_EQ(ok.at("performed"), "update");
    EXPECT_EQ(ok.at("ok"), true);
    EXPECT_EQ(ok.at("status"), 0);
    EXPECT_TRUE(ok.at("reason").is_null());
    EXPECT_EQ(ok.at("messages")[0].at("title"), "OK");
    EXPECT_EQ(ok.at("messages")[0].at("text"), messages::Success.update);
}

// ---------------------------------------------------------------------------------------------
// Progress

TEST(Progress, PlainLinesNameEachPhaseWithItsBytesWhenStandardErrorIsAFile) {
    SimulatedLine line(board(BoardMode::Download));
    const CliRun run = runCliWith({"download"}, line);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err.find('\r'), std::string::npos);
    const std::vector<std::string> lines = linesOf(run.err);
    const std::vector<std::string> expected = {
        BuiltInIdentity.substr(0, BuiltInIdentity.size() - 1),
        "probing: started",
        "probing: ended in",
        "loader: started",
        "loader: ended, 5696 of 5696 bytes in",
        "probing: started",
        "probing: ended in",
        "firmware: started",
        "firmware: ended, 5728 of 5728 bytes in",
        "programming: started",
        "programming: ended in"};
    ASSERT_EQ(lines.size(), expected.size()) << run.err;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(unstamped(lines[i]).rfind(expected[i], 0), 0u) << lines[i];
    }
    // A failure box comes after the end of the stage it ended, as it happened.
    BoardConfig failing = board(BoardMode::Update);
    failing.statusValue = 0x0080;
    SimulatedLine failed(failing);
    const std::string failedErr = runCliWith({"update"}, failed).err;
    const std::size_t ended = failedErr.find("programming: ended in");
    EXPECT_NE(ended, std::string::npos) << failedErr;
    EXPECT_LT(ended, failedErr.find(messages::EepromProgramFail)) << failedErr;
    SimulatedLine quiet(board(BoardMode::Update));
    const CliRun q = runCliWith({"update", "--quiet"}, quiet);
    EXPECT_EQ(q.err, BuiltInIdentity);
    EXPECT_EQ(q.out, std::string(messages::Success.update) + "\n");
}

TEST(Progress, TheTerminalBarNamesItsPhaseAndCountsDownTheProgramming) {
    SimulatedLine line(board(BoardMode::Update));
    const CliRun run = runCliWith({"update"}, line, {.terminal = true});
    ASSERT_EQ(run.status, 0);
    EXPECT_TRUE(contains(run.err, "probing"));
    EXPECT_TRUE(contains(run.err, "firmware    ["));
    EXPECT_TRUE(contains(run.err, "programming the EEPROM, about 6.1 s left"));
    EXPECT_TRUE(contains(run.err, "programming the EEPROM, about 0.1 s left"));
}

}  // namespace
}  // namespace zq::test
