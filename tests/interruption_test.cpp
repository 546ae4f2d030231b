// A signal in the middle of an operation, in virtual time: the command line hands the port back
// as it found it, prints no box for the calls the signal cut short, says in one line what the
// interruption means for the board and exits with 128 + the signal's number; while the board
// programs its EEPROM the first signal only warns. Also the system's reason in the trace.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/explain/interruption_text.h"
#include "serial/interruption.h"
#include "support/cli_run.h"
#include "support/identity_line.h"
#include "support/operation_fixture.h"
#include "support/text_lines.h"
#include "text/messages.h"
#include "transfer/operation.h"

namespace zq::test {
namespace {

// Every test starts and ends with no signal noted: the record is the process's.
class Interrupted : public ::testing::Test {
  protected:
    void SetUp() override { interruption::resetForTests(); }
    void TearDown() override { interruption::resetForTests(); }
};

// Raises `signal` as the write call numbered `at` (counting from 1) among those `pick` selects
// begins.
std::function<std::optional<long>(std::span<const std::uint8_t>)> signalOnWrite(
    std::function<bool(std::span<const std::uint8_t>)> pick, int at, int signal) {
    auto seen = std::make_shared<int>(0);
    return [=](std::span<const std::uint8_t> bytes) -> std::optional<long> {
        if (pick(bytes) && ++*seen == at) {
            interruption::raise(signal);
        }
        return std::nullopt;
    };
}

// The line for an operation a signal ended at `stage` (none: before anything was sent).
std::string stoppedAt(std::optional<OperationStage> stage, bool imageLoaded = false) {
    Outcome outcome;
    outcome.reached = stage;
    outcome.imageLoaded = imageLoaded;
    return lineOf(interruptionLine(outcome));
}

bool imageChunk(std::span<const std::uint8_t> bytes) {
    return bytes.size() == 512;
}

bool syncPacketBytes(std::span<const std::uint8_t> bytes) {
    return bytes.size() == 6 && bytes[0] == 0xAA && bytes[1] == 0x0D;
}

TEST_F(Interrupted, ASignalEndsTheRunAtOnceHandsThePortBackAndSaysWhatItMeansForTheBoard) {
    struct Case {
        const char* what;
        sim::BoardMode board;
        const char* command;
        std::function<bool(std::span<const std::uint8_t>)> pick;
        int at;
        int signal;
        OperationStage stage;
        bool imageLoaded = false;
    };
    const auto probing = OperationStage::Probing;
    const auto firmware = OperationStage::Firmware;
    const auto Upd = sim::BoardMode::Update;
    const auto Dl = sim::BoardMode::Download;
    const std::vector<Case> cases = {
        {"handshake", Upd, "update", syncPacketBytes, 1, SIGHUP, probing},
        // The loader never answers: the handshake a signal ends must not pass for its silence.
        {"handshake of a download", Dl, "download", syncPacketBytes, 5, SIGINT, probing},
        {"handshake of a flash", Dl, "flash", syncPacketBytes, 5, SIGQUIT, probing},
        {"image to the loader", Dl, "download", imageChunk, 3, SIGINT, OperationStage::Loader},
        // The loader leaves all 60 Syncs of the first handshake unanswered.
        {"handshake after the loader", Dl, "download", syncPacketBytes, 61, SIGTERM, probing, true},
        {"image to the firmware", Upd, "update", imageChunk, 2, SIGTERM, firmware},
        {"image to the loaded image", Dl, "download", imageChunk, 13, SIGINT, firmware, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        interruption::resetForTests();
        sim::SimulatedLine line({.mode = c.board});
        line.faults.writeFault = signalOnWrite(c.pick, c.at, c.signal);
        const CliRun run = runCliWith({c.command, "--quiet"}, line);
        EXPECT_EQ(run.status, 128 + c.signal);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, stoppedAt(c.stage, c.imageLoaded));
        // A loaded image runs on the board: a Download again would find it in update mode.
        EXPECT_EQ(contains(run.err, "run update"), c.imageLoaded) << run.err;
        EXPECT_TRUE(handedBack(line));
        // The operation's own outcome names the signal, whatever the call it cut short.
        interruption::resetForTests();
        SimOperation op({.mode = c.board},
                        std::string_view(c.command) == "update" ? ModeUpdate : ModeDownload);
        op.line.faults.writeFault = signalOnWrite(c.pick, c.at, c.signal);
        Outcome outcome;
        static_cast<void>(std::string_view(c.command) == "flash"
                              ? runFlash(op.window, op.job, nullptr, op.port, outcome)
                              : runOperation(op.window, op.job, nullptr, op.port, outcome));
        EXPECT_EQ(outcome.kind, OutcomeKind::Interrupted);
        EXPECT_EQ(outcome.signal, c.signal);
        // A flash whose probe a signal cut short chose no operation.
        EXPECT_EQ(outcome.performed.has_value(), std::string_view(c.command) != "flash");
    }
}

TEST_F(Interrupted, ASignalBeforeThePortIsTouchedSendsNothing) {
    interruption::raise(SIGINT);
    sim::SimulatedLine line({.mode = sim::BoardMode::Update});
    const CliRun run = runCliWith({"update", "--quiet"}, line);
    EXPECT_EQ(run.status, 130);
    EXPECT_EQ(run.err, stoppedAt(std::nullopt));
    EXPECT_TRUE(line.eventsOf(sim::PortEvent::Kind::Open).empty());
}

// Once the whole image has gone a signal waits for the board's acknowledgement, since the board
// programs once it has acknowledged; during the 5 s of programming the first signal warns and the
// run goes on to the board's real result, and a second one ends it.
TEST_F(Interrupted, OnceTheImageHasGoneTheFirstSignalWaitsForTheBoardsResult) {
    // Signals raised as the programming wait and the sleeps after it begin, so many in each.
    const auto inProgramming = [](std::vector<int> perSleep) {
        return [perSleep](sim::SimulatedLine& line) {
            auto sleeps = std::make_shared<int>(0);
            line.faults.onSleep = [=](milliseconds duration) {
                if (duration == milliseconds(5000) || *sleeps > 0) {
                    const auto index = static_cast<std::size_t>((*sleeps)++);
                    for (int i = 0; index < perSleep.size() && i < perSleep[index]; ++i) {
                        interruption::raise(SIGINT);
                    }
                }
            };
        };
    };
    // One signal in the first wait after the image's last piece: 5696 bytes end in 64 after
    // eleven chunks of 512.
    const auto afterTheImage = [](sim::SimulatedLine& line) {
        auto imageSent = std::make_shared<bool>(false);
        line.faults.writeFault = [imageSent](std::span<const std::uint8_t> bytes) {
            *imageSent = *imageSent || bytes.size() == 64;
            return std::optional<long>();
        };
        line.faults.onSleep = [imageSent](milliseconds) {
            if (*imageSent && interruption::count() == 0) {
                interruption::raise(SIGINT);
            }
        };
    };
    const std::string notice = lineOf(programmingNotice());
    const std::string success = lineOf(messages::Success.update);
    const std::string stopped = stoppedAt(OperationStage::Programming);
    struct Case {
        const char* what;
        sim::BoardConfig board;
        std::function<void(sim::SimulatedLine&)> signals;
        int status;
        std::string out;
        std::string err;  // after the image's line; a failure's text after its box is not compared
        bool programmed;  // the 5 s wait was served out whole
    };
    using Board = sim::BoardConfig;
    const std::vector<Case> cases = {
        {"one signal, the board succeeds", Board{}, inProgramming({1}), 0, success, notice, true},
        {"one signal, the board reports a failure", Board{.statusValue = 0x0080},
         inProgramming({1}), 1, "", notice + lineOf(messages::EepromProgramFail), true},
        {"a second signal during the status read", Board{}, inProgramming({1, 1}), 130, "",
         notice + stopped, true},
        {"two signals at once", Board{}, inProgramming({2}), 130, "", stopped, false},
        {"awaiting the Ack, the board acknowledges", Board{}, afterTheImage, 0, success, notice,
         true},
        {"awaiting the Ack, none comes", Board{.unansweredIds = 1u << IdData}, afterTheImage, 130,
         "", stoppedAt(OperationStage::AwaitingAck), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        interruption::resetForTests();
        sim::SimulatedLine line(c.board);
        c.signals(line);
        const CliRun run = runCliWith({"update", "--quiet"}, line);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.out, c.out);
        const std::string err = c.err;
        EXPECT_EQ(c.status == 1 ? run.err.substr(0, err.size()) : run.err, err);
        EXPECT_TRUE(handedBack(line));
        const auto sleeps = line.eventsOf(sim::PortEvent::Kind::Sleep);
        EXPECT_EQ(std::any_of(sleeps.begin(), sleeps.end(),
                              [](auto* s) { return s->endedAt - s->at == milliseconds(5000); }),
                  c.programmed);
        // The core decides it, for every front end: the signal held off, or the one that ended it.
        interruption::resetForTests();
        SimOperation op(c.board, ModeUpdate);
        c.signals(op.line);
        Outcome outcome;
        runOperation(op.window, op.job, nullptr, op.port, outcome);
        EXPECT_EQ(outcome.kind == OutcomeKind::Interrupted, c.status == 130);
        EXPECT_EQ(outcome.heldOff == SIGINT, c.err.starts_with(notice));
    }
}

TEST(FailureReason, TheSystemsReasonShowsInTheTrace) {
    sim::SimulatedLine traced({.mode = sim::BoardMode::Download});
    traced.faults.writeFault = failWritesStartingWith({0xFF, 0xFF});  // the wake bytes
    traced.faults.error = {.code = 5, .text = "Input/output error", .deviceGone = true};
    const CliRun trace = runCliWith({"download", "--quiet", "--trace"}, traced);
    EXPECT_NE(trace.err.find("-> FF FF  (0 of 2 sent)  write failed: Input/output error (error 5), "
                             "the device has gone\n"),
              std::string::npos)
        << trace.err;
}

}  // namespace
}  // namespace zq::test
