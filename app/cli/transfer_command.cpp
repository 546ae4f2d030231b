#include "app/cli/transfer_command.h"

#include <optional>
#include <string>

#include "app/cli/console_window.h"
#include "app/cli/open_failure_text.h"
#include "app/cli/progress_bar.h"
#include "app/cli/status_line.h"
#include "app/cli/system_support.h"
#include "app/cli/tracing_platform.h"
#include "serial/failure_recorder.h"
#include "serial/interruption.h"
#include "serial/port_state.h"
#include "transfer/operation.h"

namespace zq::cli {

std::string imageSourceFailureLine(const ImageSource& source,
                                   const std::filesystem::path& imageFile,
                                   const StartupDirectory& startup) {
    const std::string file = imageFile.string();
    switch (source.failure) {
        case ImageSourceFailure::None:
        case ImageSourceFailure::LoadFailed:
            return {};
        case ImageSourceFailure::CannotReadHex:
            return file + ": cannot be read";
        case ImageSourceFailure::InvalidHex:
            return file + ": not an Intel HEX image this tool takes: record " +
                   std::to_string(source.hexFaultRecord) + ": " +
                   std::string(describeHexFault(source.hexFault));
        case ImageSourceFailure::NoTempName:
            if (startup.path.empty()) {
                return file +
                       ": the start-up directory is unknown, so there is no place to "
                       "convert it";
            }
            return file + ": no free temporary name in " + startup.path +
                   " (ZQ417Fw_Temp0 to ZQ417Fw_Temp9 all exist)";
        case ImageSourceFailure::TempNotWritten:
            return source.tempName + ": the converted image cannot be written";
    }
    return {};
}

bool runTransfer(const TransferRequest& request, Platform& platform, const Console& console,
                 const StartupDirectory& startup) {
    return runTransferOutcome(request, platform, console, startup).succeeded;
}

TransferOutcome runTransferOutcome(const TransferRequest& request, Platform& platform,
                                   const Console& console, const StartupDirectory& startup) {
    StatusLine statusLine(console.err);
    const std::string device = devicePathFor(request.portName);

    std::optional<TracingPlatform> tracing;
    if (request.trace) {
        tracing.emplace(platform, [&](std::string_view line) { statusLine.printAbove(line); });
        if (device != request.portName) {
            tracing->note(request.portName + " is " + device);
        }
    }
    // Outside the tracer, so that the trace shows each failing call's reason as it happens and
    // the recorder keeps the first for the line after the box.
    FailureRecorder recorder(tracing ? static_cast<Platform&>(*tracing) : platform);
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
    if (!request.imageFile.empty()) {
        const ImageSource source = loadImageSource(window, request.imageFile, startup, job, store);
        if (!source.ok()) {
            if (const std::string line = imageSourceFailureLine(source, request.imageFile, startup);
                !line.empty()) {
                console.err << line << '\n';
            }
            return {};
        }
    }
    const bool succeeded =
        !window.interrupted() && runOperation(window, job, bar ? &*bar : nullptr, port);
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
