#include "app/cli/board_run.h"

#include <algorithm>
#include <optional>

#include "app/cli/exit_status.h"
#include "station/image_choice.h"
#include "app/cli/interruption_text.h"
#include "app/cli/safe_text.h"
#include "app/explain/reason_text.h"
#include "serial/platform_stack.h"
#include "serial/port_names.h"
#include "serial/port_state.h"
#include "transfer/operation.h"
#include "transfer/outcome_steps.h"

namespace zq::cli {

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

// The owner of one board's boxes and progress: keeps every box for the result, prints it with
// the reason its outcome gives, and turns the phases' stages into progress. Once its outcome says
// a signal ended the operation it shows no more boxes: they would blame the port or the board for
// calls the interruption cut short.
class BoardReport : public OwnerWindow, public ProgressTarget {
  public:
    BoardReport(const BoardTask& task, BoardResult& result, const Outcome& outcome, Platform& clock)
        : task_(task), result_(result), outcome_(outcome), clock_(clock) {}

    std::optional<std::chrono::nanoseconds> programmingAt;  // on the platform's clock

    void showMessage(BoxStyle style, std::string_view text) override {
        sayChoice();
        if (style != BoxStyle::Error) {
            show(style, text, {}, {});
            return;
        }
        // The result keeps the whole reason; behind the port's prefix the line need not name the
        // port again.
        const std::string reason = explainOutcome(outcome_, result_.device);
        show(style, text, reason,
             task_.output->namesPort(task_.index, result_.device) ? explainOutcome(outcome_, {})
                                                                  : reason);
    }
    // Only a close that failed shows a box of its own.
    void showUnownedMessage(BoxStyle style, std::string_view text) override {
        sayChoice();
        const std::string reason = printableName(explainCloseFailure(outcome_, result_.device));
        show(style, text, reason,
             task_.output->namesPort(task_.index, result_.device)
                 ? printableName(explainCloseFailure(outcome_, {}))
                 : reason);
    }
    void operationStage(OperationStage stage) override {
        if (stage != OperationStage::Probing) {
            sayChoice();
        }
        if (stage == OperationStage::Programming) {
            programmingAt = clock_.now();
        }
        task_.output->stage(task_.index, stage);
    }
    void signalHeldOff(int) override { task_.output->note(task_.index, programmingNotice()); }
    void setRange(std::uint32_t maximum) override { task_.output->range(task_.index, maximum); }
    void setPosition(std::uint32_t position) override {
        task_.output->position(task_.index, position);
    }

    // Said before whatever follows the probe, so that a log reads in the order things happened.
    void sayChoice() {
        if (task_.operation == Operation::Flash && outcome_.probed && !choiceSaid_) {
            choiceSaid_ = true;
            task_.output->progress(task_.index, flashChoiceLine(outcome_));
        }
    }

  private:
    void show(BoxStyle style, std::string_view text, const std::string& reason,
              const std::string& printed) {
        if (outcome_.kind == OutcomeKind::Interrupted) {
            return;
        }
        if (!result_.reason && !reason.empty()) {
            result_.reason = reason;
        }
        result_.messages.push_back({style, std::string(text)});
        task_.output->box(task_.index, style, text, printed);
    }

    const BoardTask& task_;
    BoardResult& result_;
    const Outcome& outcome_;
    Platform& clock_;
    bool choiceSaid_ = false;
};

std::optional<std::string> modeName(BoardMode mode) {
    switch (mode) {
        case BoardMode::Download:
            return "download";
        case BoardMode::Update:
            return "update";
        case BoardMode::Unknown:
            break;
    }
    return std::nullopt;
}

}  // namespace

std::string_view operationName(Operation operation) {
    switch (operation) {
        case Operation::Download:
            return "download";
        case Operation::Update:
            return "update";
        case Operation::Flash:
            return "flash";
    }
    return "?";
}

void recordOutcome(BoardResult& result, const Outcome& outcome) {
    result.exit = exitStatusFor(outcome);
    result.boardMode = modeName(outcome.boardMode);
    result.performed = !outcome.performed                ? ""
                       : outcome.performed == ModeUpdate ? "update"
                                                         : "download";
    result.status = outcome.status;
    result.interruptedBy = outcome.kind == OutcomeKind::Interrupted ? outcome.signal : 0;
}

BoardResult runBoard(const BoardTask& task) {
    BoardResult result;
    result.port = task.port;
    result.device = devicePath(task.port);
    result.operation = operationName(task.operation);
    result.image = task.image->identity;
    Outcome outcome;
    // The wrappers pass the clock through untouched, so the system's is the stack's.
    BoardReport report(task, result, outcome, *task.platform);
    StackOptions options{.latency = std::chrono::milliseconds(task.latencyMs)};
    if (task.trace) {
        options.trace = [&](std::string_view line) {
            task.output->note(task.index, printableName(line));
        };
    }
    // The board says nothing while it programs; a terminal's bar counts down the time that is
    // known to take, in the slices of the pause. Elsewhere the pause stays one sleep.
    if (task.output->showsCountdown()) {
        options.whileWaiting = [&] {
            if (report.programmingAt) {
                const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                    task.platform->now() - *report.programmingAt);
                task.output->countdown(task.index, elapsed);
            }
        };
    }
    PlatformStack stack(*task.platform, std::move(options));
    Platform& platform = stack.top();
    result.started = platform.wallClock();
    const std::chrono::nanoseconds began = platform.now();
    if (!task.portNote.empty()) {
        stack.note(task.portNote);
    }
    if (result.device != task.port) {
        stack.note(task.port + " is " + result.device);
    }
    stack.note(identityLine(task.image->identity));
    PortState port(platform);

    // A copy of its own, with room for the pad byte an odd length gets.
    std::vector<std::uint8_t> image(task.image->bytes);
    image.push_back(0);
    TransferJob job;
    fillJob(job, task.operation == Operation::Update ? ModeUpdate : ModeDownload, task.port);
    job.image = std::span<std::uint8_t>(image);
    job.imageLength = static_cast<std::uint32_t>(task.image->bytes.size());

    const bool succeeded = task.operation == Operation::Flash
                               ? runFlash(report, job, &report, port, outcome)
                               : runOperation(report, job, &report, port, outcome);
    report.sayChoice();
    const bool interrupted = outcome.kind == OutcomeKind::Interrupted;
    if (std::string advice = latencyAdvice(outcome);
        !succeeded && !interrupted && !advice.empty()) {
        task.output->note(task.index, advice);
        result.advice = std::move(advice);
    }
    // The window keeps a port some failures leave open for its next operation; this run has no
    // next operation, so the port is handed back rather than left at the phase's settings.
    if (port.handle) {
        handBack(port, report, outcome);
    }

    result.ok = succeeded;
    recordOutcome(result, outcome);
    if (interrupted) {
        result.reason = interruptionLine(outcome);
    }
    result.seconds = std::chrono::duration<double>(platform.now() - began).count();
    task.output->finished(task.index, result.ok ? "done"
                                      : interrupted
                                          ? "interrupted"
                                          : "failed (exit " + std::to_string(result.exit) + ")");
    if (interrupted) {
        task.output->note(task.index, *result.reason);
    }
    return result;
}

}  // namespace zq::cli
