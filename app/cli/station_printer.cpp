#include "app/cli/station_printer.h"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "app/explain/interruption_text.h"
#include "app/explain/reason_text.h"
#include "app/records/record_json.h"
#include "app/records/record_text.h"
#include "app/records/safe_text.h"
#include "serial/port_fault_text.h"
#include "serial/port_names.h"
#include "station/board_runner.h"

namespace zq::cli {

using station::BoardEnd;
using station::BoardRecord;
using station::BoardView;

namespace {

// What flash found and what it runs, once the probe has told it.
std::string flashChoiceLine(const Outcome& outcome) {
    const std::string running = outcome.performed == ModeUpdate ? "update" : "download";
    switch (outcome.boardMode) {
        case BoardMode::Update:
            return "flash: the board answers in update mode; running " + running;
        case BoardMode::Download:
            return "flash: the board is silent, as in download mode; running " + running;
        case BoardMode::Unknown:
            break;
    }
    return "flash: the board's answer made no handshake; running " + running;
}

// A board as the line that announces it shows it.
std::string described(const station::Fixture& fixture) {
    const PortInfo& port = fixture.port;
    if (fixture.found == station::Fixture::Found::AnsweredProbe) {
        return printableName(fixture.openName) + " (it answers the handshake)";
    }
    std::string about;
    // A virtual board's description says that it is one, and its mode.
    for (const std::string& part : {port.description, vidPidText(port)}) {
        if (!part.empty()) {
            about += (about.empty() ? "" : ", ") + part;
        }
    }
    const std::string name = printableName(shownName(port));
    return about.empty() ? name : name + " (" + printableName(about) + ")";
}

std::string device(const BoardView& board) {
    return devicePath(board.fixture.openName);
}

}  // namespace

StationPrinter::StationPrinter(RunPrinter& output, RecordLog* log, Options options)
    : output_(output), log_(log), options_(options) {}

std::size_t StationPrinter::indexOf(std::uint64_t number) {
    const std::lock_guard hold(lock_);
    const auto it = lines_.find(number);
    // A board refused before it started has the line of its place in the order given.
    return it != lines_.end() ? it->second : static_cast<std::size_t>(number);
}

void StationPrinter::boardStarted(const BoardView& board) {
    std::size_t index = static_cast<std::size_t>(board.number);
    if (options_.watching) {
        output_.result("watch: board on " + described(board.fixture), true);
        index = output_.addBoard(board.fixture.openName);
    }
    {
        const std::lock_guard hold(lock_);
        lines_[board.number] = index;
        ++running_;
        showCountsLocked();
    }
    output_.useClock(index, board.platform);
    // Named before anything is sent, for each board when there are several, so that a log
    // filtered by port still says what went to that board, and which port auto took. --quiet
    // shows only the results.
    if (!options_.quiet) {
        if (!board.fixture.note.empty()) {
            output_.note(index, board.fixture.note);
        }
        output_.note(index, printableName(identityLine(board.record.image)));
    }
}

void StationPrinter::tryStarting(const BoardView& board, unsigned tryNumber, unsigned latencyMs) {
    if (tryNumber > 1 && latencyMs != board.record.tries.front().latencyMs) {
        output_.progress(indexOf(board.number),
                         "try " + std::to_string(tryNumber) + " reads with --latency " +
                             std::to_string(latencyMs) + ", as the last try's replies advised");
    }
}

void StationPrinter::box(const BoardView& board, BoxStyle style, std::string_view text,
                         const Outcome& outcome, bool unowned) {
    const std::size_t index = indexOf(board.number);
    if (style != BoxStyle::Error && !unowned) {
        output_.box(index, style, text, {});
        return;
    }
    // Behind the port's prefix the line need not name the port again.
    const std::string named = output_.namesPort(index, device(board)) ? "" : device(board);
    output_.box(index, style, text,
                unowned ? printableName(explainCloseFailure(outcome, named))
                        : explainOutcome(outcome, named));
}

void StationPrinter::flashChose(const BoardView& board, const Outcome& outcome) {
    output_.progress(indexOf(board.number), flashChoiceLine(outcome));
}

void StationPrinter::stage(const BoardView& board, OperationStage stage) {
    output_.stage(indexOf(board.number), stage);
}

void StationPrinter::range(const BoardView& board, std::uint32_t maximum) {
    output_.range(indexOf(board.number), maximum);
}

void StationPrinter::position(const BoardView& board, std::uint32_t position) {
    output_.position(indexOf(board.number), position);
}

void StationPrinter::programming(const BoardView& board, std::chrono::milliseconds elapsed) {
    output_.countdown(indexOf(board.number), elapsed);
}

void StationPrinter::signalHeldOff(const BoardView& board) {
    output_.note(indexOf(board.number), programmingNotice());
}

void StationPrinter::trace(const BoardView& board, std::string_view line) {
    output_.note(indexOf(board.number), printableName(line));
}

void StationPrinter::tryEnded(const BoardView& board, const station::Try& ended,
                              std::optional<std::chrono::milliseconds> retryIn) {
    const std::size_t index = indexOf(board.number);
    const BoardRecord& record = board.record;
    const bool interrupted = ended.outcome.kind == OutcomeKind::Interrupted;
    if (!ended.outcome.succeeded() && !interrupted) {
        const std::string advice =
            retryIn ? latencyAdvice(ended.outcome) : adviceOf(record).value_or(std::string());
        if (!advice.empty()) {
            output_.note(index, advice);
        }
    }
    std::string words = ended.outcome.succeeded() ? "done"
                        : interrupted             ? "interrupted"
                                      : "failed (exit " + std::to_string(ended.exit) + ")";
    if (!retryIn && record.end == BoardEnd::Pulled) {
        words = endWords(record);
    }
    output_.finished(index, words);
    if (interrupted) {
        output_.note(index, interruptionLine(ended.outcome));
    } else if (!retryIn && record.end == BoardEnd::Pulled) {
        output_.note(index, *reasonOf(record, device(board)));
    }
    if (retryIn) {
        char pause[32];
        std::snprintf(pause, sizeof pause, "%.1f s",
                      std::chrono::duration<double>(*retryIn).count());
        output_.progress(index, "failed (exit " + std::to_string(ended.exit) +
                                    "); trying again in " + pause + ", try " +
                                    std::to_string(record.tries.size() + 1) + " of " +
                                    std::to_string(options_.tries));
    }
}

void StationPrinter::boardEnded(const BoardRecord& ended) {
    const std::size_t index = indexOf(ended.number);
    BoardRecord record = ended;
    if (record.end == BoardEnd::Interrupted && !record.tries.empty() &&
        record.tries.back().outcome.kind != OutcomeKind::Interrupted) {
        output_.note(index, *reasonOf(record, {}));
    }
    if (log_ != nullptr) {
        if (std::optional<std::string> failed = log_->append(record)) {
            output_.note(index, "--log " + printableName(log_->path().string()) +
                                    ": this board's result could not be added: " + *failed);
            record.logError = std::move(failed);
        }
    }
    if (options_.json) {
        output_.result(recordLine(record), false);
    }
    const std::lock_guard hold(lock_);
    // A station that runs for days names its first failures, and counts the rest.
    if (!record.ok() && notSucceeded_.size() < NamedAtMost) {
        std::string fixture = record.fixture.name();
        if (!options_.watching || fixture == record.fixture.openName ||
            fixture == record.fixture.port.devicePath) {
            fixture.clear();
        }
        notSucceeded_.push_back({record.number, record.fixture.openName, std::move(fixture),
                                 record.end, record.exit, record.interruptedBy,
                                 reasonLine(record)});
    }
    ++ended_[record.end];
    running_ -= running_ > 0 ? 1 : 0;
    showCountsLocked();
    if (lines_.erase(ended.number) != 0 && options_.watching) {
        output_.releaseBoard(index);
    }
}

void StationPrinter::showCountsLocked() {
    output_.showCounts("passed " + std::to_string(ended_[BoardEnd::Succeeded]) + ", failed " +
                       std::to_string(ended_[BoardEnd::Failed]) + ", pulled " +
                       std::to_string(ended_[BoardEnd::Pulled]) + ", running " +
                       std::to_string(running_));
}

void StationPrinter::portHeld(const station::Fixture& fixture, const OpenFailure& why) {
    output_.result("watch: " + explainOpenFailure(why, printableName(fixture.openName)).advice +
                       " It is looked at again every second.",
                   true);
}

std::vector<StationPrinter::Unsucceeded> StationPrinter::notSucceeded() const {
    const std::lock_guard hold(lock_);
    std::vector<Unsucceeded> boards = notSucceeded_;
    std::ranges::sort(boards, {}, &Unsucceeded::number);
    return boards;
}

std::string summaryText(const station::StationTally& tally,
                        const std::vector<StationPrinter::Unsucceeded>& boards) {
    const std::uint64_t ended = tally.passed + tally.failed + tally.pulled + tally.interrupted;
    std::string text = "summary: " + std::to_string(tally.passed) + " of " + std::to_string(ended) +
                       " boards succeeded";
    for (const StationPrinter::Unsucceeded& board : boards) {
        text += "\nsummary: " + printableName(board.port);
        if (!board.fixture.empty()) {
            text += " at " + printableName(board.fixture);
        }
        if (board.end == BoardEnd::Interrupted) {
            text += " interrupted by signal " + std::to_string(board.signal) + " (exit " +
                    std::to_string(board.exit) + ")";
            continue;
        }
        text += (board.end == BoardEnd::Pulled ? " pulled (exit " : " failed (exit ") +
                std::to_string(board.exit) + ")";
        if (!board.reason.empty()) {
            text += ": " + board.reason;
        }
    }
    if (const std::uint64_t more = ended - tally.passed - boards.size(); more != 0) {
        text += "\nsummary: and " + std::to_string(more) +
                " more boards that did not succeed (each has its record)";
    }
    if (tally.stoppedAfterFailures) {
        text += "\nsummary: stopped after " + std::to_string(tally.failuresInRow) +
                " boards failed in a row (--stop-after-failures)";
    }
    return text;
}

std::string summaryJson(const station::StationTally& tally,
                        const std::vector<StationPrinter::Unsucceeded>& boards) {
    nlohmann::ordered_json named = nlohmann::ordered_json::array();
    for (const StationPrinter::Unsucceeded& board : boards) {
        named.push_back({{"port", board.port},
                         {"fixture", board.fixture.empty() ? nlohmann::ordered_json(nullptr)
                                                           : nlohmann::ordered_json(board.fixture)},
                         {"result", std::string(station::boardEndName(board.end))},
                         {"exit", board.exit},
                         {"reason", board.reason.empty() ? nlohmann::ordered_json(nullptr)
                                                         : nlohmann::ordered_json(board.reason)}});
    }
    return jsonText({{"summary",
                      {{"passed", tally.passed},
                       {"failed", tally.failed},
                       {"pulled", tally.pulled},
                       {"interrupted", tally.interrupted},
                       {"stopped_after_failures", tally.stoppedAfterFailures},
                       {"exit", tally.exit},
                       {"not_succeeded", named}}}});
}

}  // namespace zq::cli
