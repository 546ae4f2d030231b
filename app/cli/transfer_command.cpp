#include "app/cli/transfer_command.h"

#include <optional>
#include <string>

#include "app/cli/console_window.h"
#include "app/cli/image_choice.h"
#include "app/cli/open_failure_text.h"
#include "app/cli/progress_bar.h"
#include "app/cli/reply_window_platform.h"
#include "app/cli/status_line.h"
#include "app/cli/system_support.h"
#include "app/cli/tracing_platform.h"
#include "serial/failure_recorder.h"
#include "serial/interruption.h"
#include "serial/port_state.h"
#include "transfer/image_plan.h"
#include "transfer/operation.h"

namespace zq::cli {

namespace {

// Everything the operation would refuse is refused here, before the port is opened; a usable
// image is named before anything is sent.
bool useChosenImage(const TransferRequest& request, TransferJob& job, ImageStore& store,
                    const Console& console, TracingPlatform* tracing) {
    const ChosenImage image = chooseImage({request.imageFile, request.force});
    if (const auto refusal = refusalFor(image, static_cast<TransferMode>(request.mode));
        !refusal.empty()) {
        for (const std::string& line : refusal) {
            console.err << line << '\n';
        }
        return false;
    }
    if (!image.builtIn) {
        holdImage(job, store, image.bytes);
    }
    const std::string identity = identityLine(image.identity);
    console.out << identity << '\n';
    if (tracing != nullptr) {
        tracing->note(identity);
    }
    return true;
}

}  // namespace

bool runTransfer(const TransferRequest& request, Platform& platform, const Console& console,
                 const StartupDirectory& startup) {
    return runTransferOutcome(request, platform, console, startup).succeeded;
}

TransferOutcome runTransferOutcome(const TransferRequest& request, Platform& platform,
                                   const Console& console, const StartupDirectory& /*startup*/) {
    StatusLine statusLine(console.err);
    const std::string device = devicePathFor(request.portName);

    std::optional<TracingPlatform> tracing;
    if (request.trace) {
        tracing.emplace(platform, [&](std::string_view line) { statusLine.printAbove(line); });
        if (!request.portNote.empty()) {
            tracing->note(request.portNote);
        }
        if (device != request.portName) {
            tracing->note(request.portName + " is " + device);
        }
    }
    // Above the tracer, so that the trace shows the timeouts the port really gets.
    ReplyWindowPlatform replyWindow(tracing ? static_cast<Platform&>(*tracing) : platform,
                                    std::chrono::milliseconds(request.latencyMs),
                                    [&](std::string_view line) {
                                        if (tracing) {
                                            tracing->note(line);
                                        }
                                    });
    // Outside the tracer, so that the trace shows each failing call's reason as it happens and
    // the recorder keeps the first for the line after the box.
    FailureRecorder recorder(replyWindow);
    // Declared after the tracer and the recorder: the port's device wraps theirs and must go
    // first.
    PortState port(recorder);

    ConsoleWindow window(console.out, console.err, statusLine);
    window.explainOpenFailureWith(
        [&] { return explainOpenFailureHere(port.lastOpenFailure, device); });
    window.explainFailureWith([&] {
        const std::string reason = describeFailure(recorder.take());
        return reason.empty() ? reason : device + ": " + reason;
    });

    std::optional<ProgressBar> bar;
    if (console.errIsTerminal) {
        bar.emplace(statusLine);
    }

    // Declared before the job, which points into it.
    ImageStore store;
    TransferJob job;
    fillJob(job, request.mode, request.portName);
    if (!useChosenImage(request, job, store, console, tracing ? &*tracing : nullptr)) {
        return {};
    }
    const bool succeeded =
        !window.interrupted() && runOperation(window, job, bar ? &*bar : nullptr, port);
    if (const std::string advice = replyWindow.latencyAdvice();
        !succeeded && !window.interrupted() && !advice.empty()) {
        statusLine.finish();
        console.err << advice << '\n';
    }
    // The window keeps a port some failures leave open for its next operation; this run has no
    // next operation, so the port is handed back rather than left at the phase's settings.
    if (port.handle) {
        restorePortSettings(port);
        closePort(port, window);
    }
    markPortHandedBack();
    statusLine.finish();
    if (window.interrupted()) {
        console.err << window.interruptionLine() << '\n';
        console.err.flush();
        return {false, interruption::signalNumber()};
    }
    return {succeeded, 0};
}

}  // namespace zq::cli
