#include "app/cli/board_run.h"

#include <algorithm>
#include <functional>
#include <optional>

#include "app/cli/exit_status.h"
#include "app/cli/image_choice.h"
#include "app/cli/interruption_watch.h"
#include "app/cli/open_failure_text.h"
#include "app/cli/reason_text.h"
#include "app/cli/reply_window_platform.h"
#include "app/cli/safe_text.h"
#include "app/cli/system_support.h"
#include "app/cli/tracing_platform.h"
#include "app/cli/wire_record.h"
#include "protocol/packet_ops.h"
#include "serial/failure_recorder.h"
#include "serial/port_state.h"
#include "text/messages.h"
#include "transfer/image_plan.h"
#include "transfer/message_box.h"
#include "transfer/operation.h"
#include "transfer/phases.h"

namespace zq::cli {

namespace {

// The owner window of one board: keeps every box for the result, prints it with its reason,
// and turns the phases' stages into progress, into what the handshake found and into what a
// signal means for the board. After an interruption it shows no more boxes.
class BoardWindow : public OwnerWindow {
  public:
    BoardWindow(const BoardTask& task, BoardResult& result, WireRecord& wire,
                std::function<std::string()> explainOpen, std::function<std::string()> systemReason)
        : task_(task),
          result_(result),
          wire_(wire),
          explainOpen_(std::move(explainOpen)),
          systemReason_(std::move(systemReason)),
          watch_([&task] { task.output->note(task.index, programmingNotice()); }) {}

    TransferMode mode = ModeDownload;  // the operation running, for the wording of reasons
    std::optional<std::chrono::nanoseconds> programmingAt;  // on the platform's clock

    void showMessage(BoxStyle style, std::string_view text) override {
        settleProbe();
        if (watch_.interrupted()) {
            return;
        }
        std::string reason;
        if (style == BoxStyle::Error) {
            reason = text == messages::CannotOpenPort
                         ? explainOpen_()
                         : explainFailure(text, mode, wire_, systemReason_());
            if (!result_.reason && !reason.empty()) {
                result_.reason = reason;
            }
        }
        result_.messages.push_back({style, std::string(text)});
        task_.output->box(task_.index, style, text, reason);
    }
    void showUnownedMessage(BoxStyle style, std::string_view text) override {
        showMessage(style, text);
    }
    void operationStage(OperationStage stage) override {
        watch_.stage(stage);
        // The handshake an operation chosen by a probe replays is the probe itself.
        if (stage == OperationStage::Probing && wire_.replaying()) {
            return;
        }
        settleProbe();
        if (stage == OperationStage::Probing && !result_.boardMode) {
            wire_.resetAckSent();
            probing_ = true;
        }
        if (stage == OperationStage::Programming) {
            programmingAt = wire_.now();
        }
        task_.output->stage(task_.index, stage);
    }
    bool interrupted() const { return watch_.interrupted(); }
    std::string interruptionLine() const { return watch_.line(); }
    // The first handshake is over: an Ack from us means the board answered it.
    void settleProbe() {
        if (probing_) {
            probing_ = false;
            result_.boardMode = wire_.ackSent() ? "update" : "download";
        }
    }

  private:
    const BoardTask& task_;
    BoardResult& result_;
    WireRecord& wire_;
    std::function<std::string()> explainOpen_;
    std::function<std::string()> systemReason_;
    InterruptionWatch watch_;
    bool probing_ = false;
};

class BoardProgress : public ProgressTarget {
  public:
    BoardProgress(RunOutput& output, std::size_t index) : output_(output), index_(index) {}
    void setRange(std::uint32_t maximum) override { output_.range(index_, maximum); }
    void setPosition(std::uint32_t position) override { output_.position(index_, position); }

  private:
    RunOutput& output_;
    std::size_t index_;
};

// Flash: the port prepared as both phases prepare it and the handshake both make, then the
// operation the board's mode calls for, whose own handshake is answered from the one just made.
std::optional<TransferMode> runFlash(BoardWindow& window, TransferJob& job,
                                     ProgressTarget* progress, PortState& port, WireRecord& wire,
                                     bool& succeeded) {
    succeeded = false;
    for (const TransferPhase phase : {PhaseDownload, PhaseUpdate}) {
        if (const ImagePlan plan = planImage(job, phase); !plan.failure.empty()) {
            showError(window, plan.failure);
            return std::nullopt;
        }
    }
    // The line as both phases set it up; a port a failure leaves open is handed back by the caller.
    if (!readyLine(window, PhaseUpdate, job, port)) {
        return std::nullopt;
    }
    window.operationStage(OperationStage::Probing);
    wire.startRecording();
    // The loader in download mode never answers; the firmware in update mode does.
    const bool answered = syncDevice(port);
    if (window.interrupted()) {
        return std::nullopt;
    }
    wire.armReplay();
    job.mode = answered ? ModeUpdate : ModeDownload;
    window.mode = static_cast<TransferMode>(job.mode);
    succeeded = runOperation(window, job, progress, port);
    return static_cast<TransferMode>(job.mode);
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

std::string_view modeName(TransferMode mode) {
    return mode == ModeUpdate ? "update" : "download";
}

BoardResult runBoard(const BoardTask& task) {
    BoardResult result;
    result.port = task.port;
    result.device = devicePathFor(task.port);
    result.operation = operationName(task.operation);
    result.image = task.image->identity;
    result.started = std::chrono::system_clock::now();
    const auto began = std::chrono::steady_clock::now();

    std::optional<TracingPlatform> tracing;
    if (task.trace) {
        tracing.emplace(*task.platform,
                        [&](std::string_view line) { task.output->note(task.index, line); });
        if (!task.portNote.empty()) {
            tracing->note(task.portNote);
        }
        if (result.device != task.port) {
            tracing->note(printableName(task.port) + " is " + printableName(result.device));
        }
        tracing->note(identityLine(task.image->identity));
    }
    // Above the tracer, so that the trace shows the timeouts the port really gets.
    ReplyWindowPlatform replyWindow(tracing ? static_cast<Platform&>(*tracing) : *task.platform,
                                    std::chrono::milliseconds(task.latencyMs),
                                    [&](std::string_view line) {
                                        if (tracing) {
                                            tracing->note(line);
                                        }
                                    });
    // Outside the tracer, so that the trace shows each failing call's reason as it happens and
    // the recorder keeps the first for the line after the box.
    FailureRecorder recorder(replyWindow);
    // Outermost: a handshake it replays reaches nothing below it.
    WireRecord wire(recorder);
    // Declared after the recorders: the port's device wraps theirs and must go first.
    PortState port(wire);
    BoardWindow window(
        task, result, wire,
        [&] { return printableName(explainOpenFailureHere(port.lastOpenFailure, result.device)); },
        [&] {
            const std::string reason = describeFailure(recorder.take());
            return reason.empty() ? reason : printableName(result.device) + ": " + reason;
        });
    // The board says nothing while it programs; the count is the time that is known to take.
    // Elsewhere the pause stays one sleep, as the phases ask for it.
    if (task.output->showsCountdown()) {
        wire.watchSleeps([&](std::chrono::milliseconds) {
            if (window.programmingAt) {
                const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                    wire.now() - *window.programmingAt);
                task.output->countdown(
                    task.index, std::max(ProgrammingTakes - elapsed, std::chrono::milliseconds(0)));
            }
        });
    }

    // A copy of its own, with room for the pad byte an odd length gets.
    std::vector<std::uint8_t> image(task.image->bytes);
    image.push_back(0);
    TransferJob job;
    fillJob(job, task.operation == Operation::Update ? ModeUpdate : ModeDownload, task.port);
    job.image = std::span<std::uint8_t>(image);
    job.imageLength = static_cast<std::uint32_t>(task.image->bytes.size());
    window.mode = static_cast<TransferMode>(job.mode);

    BoardProgress progress(*task.output, task.index);
    bool succeeded = false;
    std::optional<TransferMode> performed;
    if (window.interrupted()) {
        // A signal before the port was touched: nothing is sent.
    } else if (task.operation == Operation::Flash) {
        performed = runFlash(window, job, &progress, port, wire, succeeded);
    } else {
        performed = static_cast<TransferMode>(job.mode);
        succeeded = runOperation(window, job, &progress, port);
    }
    const bool interrupted = window.interrupted();
    if (const std::string advice = replyWindow.latencyAdvice();
        !succeeded && !interrupted && !advice.empty()) {
        task.output->note(task.index, advice);
    }
    // The window keeps a port some failures leave open for its next operation; this run has no
    // next operation, so the port is handed back rather than left at the phase's settings.
    if (port.handle) {
        restorePortSettings(port);
        closePort(port, window);
    }
    window.settleProbe();

    result.ok = succeeded && !interrupted;
    if (interrupted) {
        result.interruptedBy = interruption::signalNumber();
        result.exit = 128 + result.interruptedBy;
        result.reason = window.interruptionLine();
    } else {
        result.exit = classifyOutcome(succeeded, result.messages, performed.value_or(ModeDownload));
    }
    if (performed && (task.operation != Operation::Flash || result.boardMode)) {
        result.performed = modeName(*performed);
    }
    result.status = wire.statusValue();
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
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
