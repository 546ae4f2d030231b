// flash in virtual time: its probe stands as the chosen operation's own handshake, so the board
// sees exactly what that operation would send, when it would send it; a board that answers
// without making a handshake never gets the loader.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>
#include <utility>
#include <vector>

#include "support/operation_fixture.h"
#include "text/messages.h"

namespace zq::test {
namespace {

struct Replay {
    std::vector<std::pair<std::uint8_t, sim::SimTime>> wire;  // each byte as the board got it
    std::vector<ShownBox> boxes;
    Outcome outcome;
    TransferMode chosen = ModeDownload;
};

// Runs flash, or the operation named, on a fresh line.
Replay replay(const sim::BoardConfig& board, std::optional<TransferMode> direct,
              bool syncUnwritable = false) {
    sim::SimulatedLine line(board);
    if (syncUnwritable) {
        line.faults.writeFault = failWritesStartingWith({0xAA, IdSync});
    }
    PortState port(line);
    RecordingWindow window;
    RecordingProgress progress;
    TransferJob job;
    fillJob(job, direct.value_or(ModeDownload), "COM1");
    Replay r;
    static_cast<void>(direct ? runOperation(window, job, &progress, port, r.outcome)
                             : runFlash(window, job, &progress, port, r.outcome));
    for (const sim::TimedByte& b : line.board.received()) {
        r.wire.emplace_back(b.byte, b.at);
    }
    r.boxes = window.boxes;
    r.chosen = job.mode;
    return r;
}

auto keyOf(const Outcome& o) {
    return std::tuple(o.kind, o.performed, o.phase, o.step, o.reached, o.boardMode, o.status,
                      o.reply.received, o.handshake.tries, o.handshake.bytesSeen, o.fault.call,
                      static_cast<bool>(o.closeFault));
}

TEST(Flash, SendsExactlyWhatTheOperationTheBoardsModeCallsForWouldSend) {
    const std::vector<std::tuple<const char*, sim::BoardConfig, TransferMode>> cases = {
        {"download mode", {.mode = sim::BoardMode::Download}, ModeDownload},
        {"update mode", {.mode = sim::BoardMode::Update}, ModeUpdate},
        {"silent", {.mode = sim::BoardMode::Download, .silent = true}, ModeDownload},
    };
    for (const auto& [name, board, operation] : cases) {
        SCOPED_TRACE(name);
        const Replay flash = replay(board, std::nullopt);
        const Replay direct = replay(board, operation);
        EXPECT_EQ(flash.wire, direct.wire);
        EXPECT_EQ(flash.boxes, direct.boxes);
        EXPECT_EQ(keyOf(flash.outcome), keyOf(direct.outcome));
        EXPECT_EQ(flash.chosen, operation);
    }
}

// Nor does a port that cannot send the Sync: the board may be anything.
TEST(Flash, ABoardThatAnswersWithoutAHandshakeNeverGetsTheLoader) {
    struct Case {
        const char* name;
        sim::BoardConfig board;
        bool syncUnwritable;
        OutcomeKind kind;
        std::size_t wire;  // bytes the board got
    };
    using Board = sim::BoardConfig;
    constexpr auto Dl = sim::BoardMode::Download;
    const std::vector<Case> cases = {
        {"wrong Ack of Sync", Board{.wrongAckFor = 1u << IdSync}, false, OutcomeKind::NotUnderstood,
         60 * 6},
        {"Sync unwritable", Board{.mode = Dl}, true, OutcomeKind::NotSent, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Replay flash = replay(c.board, std::nullopt, c.syncUnwritable);
        EXPECT_EQ(flash.outcome.kind, c.kind);
        EXPECT_EQ(flash.chosen, ModeUpdate);
        EXPECT_EQ(flash.wire.size(), c.wire);
        EXPECT_EQ(flash.boxes,
                  (std::vector<ShownBox>{errorBox(messages::BoardNotAnswering.update)}));
    }
}

}  // namespace
}  // namespace zq::test
