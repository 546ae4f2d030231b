// A signal in the middle of an operation, in virtual time: the command line hands the port back
// as it found it, prints no box for the calls the signal cut short, says in one line what the
// interruption means for the board and exits with 128 + the signal's number; while the board
// programs its EEPROM the first signal only warns. Also the system's reason in the trace.
#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include "app/cli/interruption_watch.h"
#include "image/built_in_image.h"
#include "image/image_identity.h"
#include "protocol/packet_ops.h"
#include "serial/interruption.h"
#include "sim/simulated_line.h"
#include "support/cli_run.h"
#include "support/operation_fixture.h"
#include "text/messages.h"

namespace zq::test {
namespace {

// The line each run prints before it sends anything.
const std::string BuiltInIdentity =
    "Image: built-in, 5695 bytes, SHA-256 of these bytes (before pad and boot header) " +
    sha256Hex({builtInImage(), BuiltInImageLength}) + "\n";

using std::chrono::milliseconds;

std::string lineOf(std::string_view text) {
    return std::string(text) + "\n";
}

// Every test starts and ends with no signal noted: the record is the process's.
class Interrupted : public ::testing::Test {
  protected:
    void SetUp() override { interruption::resetForTests(); }
    void TearDown() override { interruption::resetForTests(); }

    // The port closed with the settings and timeouts it had before the run.
    static void expectHandedBack(const sim::SimulatedLine& line) {
        EXPECT_FALSE(line.isOpen());
        EXPECT_EQ(line.settings().fields, sim::SimulatedLine::initialSettings().fields);
        EXPECT_EQ(line.settings().native, sim::SimulatedLine::initialSettings().native);
        EXPECT_EQ(line.timeouts(), sim::SimulatedLine::initialTimeouts());
    }
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
        cli::InterruptedAt where;
    };
    const std::vector<Case> cases = {
        {"handshake",
         sim::BoardMode::Update,
         "update",
         syncPacketBytes,
         1,
         SIGHUP,
         {OperationStage::Probing, false}},
        // The loader never answers: the handshake a signal ends must not pass for its silence.
        {"handshake of a download",
         sim::BoardMode::Download,
         "download",
         syncPacketBytes,
         5,
         SIGINT,
         {OperationStage::Probing, false}},
        {"handshake of a flash",
         sim::BoardMode::Download,
         "flash",
         syncPacketBytes,
         5,
         SIGQUIT,
         {OperationStage::Probing, false}},
        {"image to the loader",
         sim::BoardMode::Download,
         "download",
         imageChunk,
         3,
         SIGINT,
         {OperationStage::Loader, false}},
        // The loader leaves all 60 Syncs of the first handshake unanswered.
        {"handshake after the loader",
         sim::BoardMode::Download,
         "download",
         syncPacketBytes,
         61,
         SIGTERM,
         {OperationStage::Probing, true}},
        {"image to the firmware",
         sim::BoardMode::Update,
         "update",
         imageChunk,
         2,
         SIGTERM,
         {OperationStage::Firmware, false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        interruption::resetForTests();
        sim::SimulatedLine line({.mode = c.board});
        line.faults.writeFault = signalOnWrite(c.pick, c.at, c.signal);
        const CliRun run = runCliWith({c.command, "--quiet"}, line);
        EXPECT_EQ(run.status, 128 + c.signal);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, BuiltInIdentity + lineOf(cli::interruptionLine(c.where)));
        expectHandedBack(line);
        // The interrupted write was the last: nothing more went to the board, and no wait was
        // served out after the signal.
        const std::vector<const sim::PortEvent*> writes =
            line.eventsOf(sim::PortEvent::Kind::Write);
        ASSERT_FALSE(writes.empty());
        EXPECT_FALSE(writes.back()->ok);
        for (const sim::PortEvent* sleep : line.eventsOf(sim::PortEvent::Kind::Sleep)) {
            if (sleep->at > writes.back()->at) {
                EXPECT_EQ(sleep->endedAt, sleep->at);
            }
        }
    }
}

TEST_F(Interrupted, ASignalBeforeThePortIsTouchedSendsNothing) {
    interruption::raise(SIGINT);
    sim::SimulatedLine line({.mode = sim::BoardMode::Update});
    const CliRun run = runCliWith({"update", "--quiet"}, line);
    EXPECT_EQ(run.status, 130);
    EXPECT_EQ(run.err, BuiltInIdentity + lineOf(cli::interruptionLine({})));
    EXPECT_TRUE(line.eventsOf(sim::PortEvent::Kind::Open).empty());
}

// The board acknowledged the image and programs it during the 5 s wait: the first signal there
// warns and the run goes on to the board's real result; a second one ends it.
TEST_F(Interrupted, WhileTheBoardProgramsTheFirstSignalWarnsAndTheSecondEndsTheRun) {
    const std::string notice = lineOf(cli::programmingNotice());
    const auto signalsInSleeps = [](sim::SimulatedLine& line, std::vector<int> perSleep) {
        auto programmingSleeps = std::make_shared<int>(0);
        line.faults.onSleep = [=](milliseconds duration) {
            // The programming wait and the waits of the status read after it.
            if (duration == milliseconds(5000) || *programmingSleeps > 0) {
                const int index = (*programmingSleeps)++;
                if (index < static_cast<int>(perSleep.size())) {
                    for (int i = 0; i < perSleep[index]; ++i) {
                        interruption::raise(SIGINT);
                    }
                }
            }
        };
    };
    {
        SCOPED_TRACE("one signal, the board succeeds");
        interruption::resetForTests();
        sim::SimulatedLine line({.mode = sim::BoardMode::Update});
        signalsInSleeps(line, {1});
        const CliRun run = runCliWith({"update", "--quiet"}, line);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, lineOf(messages::Success.update));
        EXPECT_EQ(run.err, BuiltInIdentity + notice);
        expectHandedBack(line);
        // The programming wait was served out whole.
        bool servedOut = false;
        for (const sim::PortEvent* sleep : line.eventsOf(sim::PortEvent::Kind::Sleep)) {
            servedOut |= sleep->asked == 5000 && sleep->endedAt - sleep->at == milliseconds(5000);
        }
        EXPECT_TRUE(servedOut);
    }
    {
        SCOPED_TRACE("one signal, the board reports a failure");
        interruption::resetForTests();
        sim::SimulatedLine line({.mode = sim::BoardMode::Update, .statusValue = 0x0080});
        signalsInSleeps(line, {1});
        const CliRun run = runCliWith({"update", "--quiet"}, line);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, BuiltInIdentity + notice + lineOf(messages::EepromProgramFail) +
                               lineOf("the board reported status 0x0080 after programming (bit "
                                      "7: programming failed)"));
    }
    {
        SCOPED_TRACE("a second signal during the status read");
        interruption::resetForTests();
        sim::SimulatedLine line({.mode = sim::BoardMode::Update});
        signalsInSleeps(line, {1, 1});
        const CliRun run = runCliWith({"update", "--quiet"}, line);
        EXPECT_EQ(run.status, 130);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, BuiltInIdentity + notice +
                               lineOf(cli::interruptionLine({OperationStage::Programming, false})));
        expectHandedBack(line);
    }
    {
        SCOPED_TRACE("two signals at once");
        interruption::resetForTests();
        sim::SimulatedLine line({.mode = sim::BoardMode::Update});
        signalsInSleeps(line, {2});
        const CliRun run = runCliWith({"update", "--quiet"}, line);
        EXPECT_EQ(run.status, 130);
        EXPECT_EQ(run.err, BuiltInIdentity +
                               lineOf(cli::interruptionLine({OperationStage::Programming, false})));
        expectHandedBack(line);
    }
}

// The whole image has gone and the board's acknowledgement is awaited: a signal then waits for
// the answer, since the board programs once it has acknowledged.
TEST_F(Interrupted, ASignalWhileTheAcknowledgementIsAwaitedWaitsForTheBoardsAnswer) {
    const auto signalAfterTheImage = [](sim::SimulatedLine& line) {
        auto imageSent = std::make_shared<bool>(false);
        line.faults.writeFault = [imageSent](std::span<const std::uint8_t> bytes) {
            // The image's last piece: 5696 bytes end in 64 after eleven chunks of 512.
            *imageSent = *imageSent || bytes.size() == 64;
            return std::optional<long>();
        };
        line.faults.onSleep = [imageSent](milliseconds) {
            if (*imageSent && interruption::count() == 0) {
                interruption::raise(SIGINT);
            }
        };
    };
    {
        SCOPED_TRACE("the board acknowledges");
        interruption::resetForTests();
        sim::SimulatedLine line({.mode = sim::BoardMode::Update});
        signalAfterTheImage(line);
        const CliRun run = runCliWith({"update", "--quiet"}, line);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, BuiltInIdentity + lineOf(cli::programmingNotice()));
        EXPECT_EQ(run.out, lineOf(messages::Success.update));
    }
    {
        SCOPED_TRACE("no acknowledgement comes");
        interruption::resetForTests();
        sim::SimulatedLine line({.mode = sim::BoardMode::Update, .unansweredIds = 1u << 0x0A});
        signalAfterTheImage(line);
        const CliRun run = runCliWith({"update", "--quiet"}, line);
        EXPECT_EQ(run.status, 130);
        EXPECT_EQ(run.err, BuiltInIdentity +
                               lineOf(cli::interruptionLine({OperationStage::AwaitingAck, false})));
        expectHandedBack(line);
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
