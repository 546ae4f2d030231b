#include "app/cli/transfer_command.h"

#include <optional>

#include "app/cli/console_window.h"
#include "app/cli/open_failure_text.h"
#include "app/cli/progress_bar.h"
#include "app/cli/status_line.h"
#include "app/cli/tracing_platform.h"
#include "serial/port_state.h"
#include "serial/posix/posix_platform.h"
#include "transfer/operation.h"

namespace zq::cli {

bool runTransfer(const TransferRequest& request, Platform& platform, const Console& console) {
    StatusLine statusLine(console.err);
    const std::string device = posixDevicePath(request.portName);

    std::optional<TracingPlatform> tracing;
    if (request.trace) {
        tracing.emplace(platform, [&](std::string_view line) { statusLine.printAbove(line); });
        if (device != request.portName) {
            tracing->note(request.portName + " is " + device);
        }
    }
    // Declared after the tracer: the port's device wraps the tracer's and must go first.
    PortState port(tracing ? static_cast<Platform&>(*tracing) : platform);

    ConsoleWindow window(console.out, console.err, statusLine);
    window.explainOpenFailureWith([&] { return explainOpenFailure(port.lastOpenFailure, device); });

    std::optional<ProgressBar> bar;
    if (console.errIsTerminal) {
        bar.emplace(statusLine);
    }

    TransferJob job;
    fillJob(job, request.mode, request.portName);
    const bool succeeded = runOperation(window, job, bar ? &*bar : nullptr, port);
    // The window keeps a port some failures leave open for its next operation; this run has no
    // next operation, so the port is handed back rather than left at the phase's settings.
    if (port.handle) {
        restorePortSettings(port);
        closePort(port, window);
    }
    statusLine.finish();
    return succeeded;
}

}  // namespace zq::cli
