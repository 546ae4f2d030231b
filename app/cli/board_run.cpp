#include "app/cli/board_run.h"

#include <algorithm>
#include <optional>

#include "app/cli/image_choice.h"
#include "app/cli/interruption_watch.h"
#include "app/cli/latency_allowance.h"
#include "app/cli/reason_text.h"
#include "app/cli/safe_text.h"
#include "app/cli/tracing_platform.h"
#include "serial/port_names.h"
#include "serial/port_state.h"
#include "serial/responsive_platform.h"
#include "transfer/operation.h"

namespace zq::cli {

namespace {

// The owner of one board's boxes: keeps every box for the result, prints it with the reason its
// outcome gives, and turns the phases' stages into progress and into what a signal means for
// the board. After an interruption it shows no more boxes.
class BoardReport : public OwnerWindow {
  public:
    BoardReport(const BoardTask& task, BoardResult& result, const Outcome& outcome, Platform& clock)
        : task_(task), result_(result), outcome_(outcome), clock_(clock), watch_([&task] {
              task.output->note(task.index, programmingNotice());
          }) {}

    std::optional<std::chrono::nanoseconds> programmingAt;  // on the platform's clock

    void showMessage(BoxStyle style, std::string_view text) override {
        show(style, text,
             style == BoxStyle::Error ? explainOutcome(outcome_, result_.device) : std::string());
    }
    // Only a close that failed shows a box of its own.
    void showUnownedMessage(BoxStyle style, std::string_view text) override {
        show(style, text, printableName(explainCloseFailure(outcome_, result_.device)));
    }
    void operationStage(OperationStage stage) override {
        watch_.stage(stage);
        if (stage == OperationStage::Programming) {
            programmingAt = clock_.now();
        }
        task_.output->stage(task_.index, stage);
    }
    bool interrupted() const { return watch_.interrupted(); }
    std::string interruptionLine() const { return watch_.line(); }

  private:
    void show(BoxStyle style, std::string_view text, const std::string& reason) {
        if (watch_.interrupted()) {
            return;
        }
        if (!result_.reason && !reason.empty()) {
            result_.reason = reason;
        }
        result_.messages.push_back({style, std::string(text)});
        task_.output->box(task_.index, style, text, reason);
    }

    const BoardTask& task_;
    BoardResult& result_;
    const Outcome& outcome_;
    Platform& clock_;
    InterruptionWatch watch_;
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

BoardResult runBoard(const BoardTask& task) {
    BoardResult result;
    result.port = task.port;
    result.device = devicePath(task.port);
    result.operation = operationName(task.operation);
    result.image = task.image->identity;
    result.started = std::chrono::system_clock::now();

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
    LatencyAllowance latency(tracing ? static_cast<Platform&>(*tracing) : *task.platform,
                             std::chrono::milliseconds(task.latencyMs));
    const std::chrono::nanoseconds began = latency.now();
    Outcome outcome;
    BoardReport report(task, result, outcome, latency);
    // The board says nothing while it programs; a terminal's bar counts down the time that is
    // known to take, in the slices of the pause. Elsewhere the pause stays one sleep.
    ResponsivePlatform countdown(latency, [&] {
        if (report.programmingAt) {
            const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                latency.now() - *report.programmingAt);
            task.output->countdown(
                task.index, std::max(ProgrammingTakes - elapsed, std::chrono::milliseconds(0)));
        }
    });
    PortState port(task.output->showsCountdown() ? static_cast<Platform&>(countdown) : latency);

    // A copy of its own, with room for the pad byte an odd length gets.
    std::vector<std::uint8_t> image(task.image->bytes);
    image.push_back(0);
    TransferJob job;
    fillJob(job, task.operation == Operation::Update ? ModeUpdate : ModeDownload, task.port);
    job.image = std::span<std::uint8_t>(image);
    job.imageLength = static_cast<std::uint32_t>(task.image->bytes.size());

    BoardProgress progress(*task.output, task.index);
    bool succeeded = false;
    bool ran = false;
    if (report.interrupted()) {
        // A signal before the port was touched: nothing is sent.
    } else if (task.operation == Operation::Flash) {
        succeeded = runFlash(report, job, &progress, port, outcome);
        ran = outcome.probed;
    } else {
        succeeded = runOperation(report, job, &progress, port, outcome);
        ran = true;
    }
    const bool interrupted = report.interrupted();
    if (const std::string advice = latencyAdvice(outcome);
        !succeeded && !interrupted && !advice.empty()) {
        task.output->note(task.index, advice);
    }
    // The window keeps a port some failures leave open for its next operation; this run has no
    // next operation, so the port is handed back rather than left at the phase's settings.
    if (port.handle) {
        restorePortSettings(port);
        closePort(port, report);
    }

    result.ok = succeeded && !interrupted;
    recordOutcome(result, outcome, ran);
    if (interrupted) {
        result.interruptedBy = interruption::signalNumber();
        result.exit = 128 + result.interruptedBy;
        result.reason = report.interruptionLine();
    }
    result.seconds = std::chrono::duration<double>(latency.now() - began).count();
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
