#include "app/cli/board_runs.h"

#include <memory>
#include <optional>

#include "app/cli/command_line.h"
#include "app/cli/line_printer.h"
#include "app/cli/station_printer.h"
#include "app/cli/system_support.h"
#include "app/cli/terminal_printer.h"
#include "app/records/image_choice.h"
#include "app/records/port_choice.h"
#include "app/records/record_log.h"
#include "app/records/safe_text.h"
#include "station/station.h"

namespace zq::cli {

namespace {

// Opens the request's log when it names one. When it cannot be opened: false, and a line that
// names the file and the system's reason; the run is then a usage error.
bool openLog(const RunRequest& request, RecordLog& log, std::ostream& err) {
    if (request.logFile.empty()) {
        return true;
    }
    const std::optional<std::string> failed = log.open(request.logFile);
    if (failed) {
        err << "--log " << printableName(request.logFile.string())
            << ": cannot open it to add results: " << *failed << '\n';
    }
    return !failed;
}

station::StationSeam seamOf(CliContext& context) {
    station::StationSeam seam{.platform = context.platform,
                              .listPorts = context.listPorts,
                              .watchPorts = context.watchPorts,
                              .awaitEvent = awaitReadableOrSignal};
    if (context.platformFor) {
        seam.platformFor = [&context](const station::Fixture& fixture) {
            return context.platformFor(fixture.openName);
        };
    }
    return seam;
}

std::vector<station::Fixture> namedFixtures(const RunRequest& request, const CliContext& context) {
    return fixturesOf(request.ports, request.portNotes, context.listPorts);
}

// Nothing was sent to any board: each port gets the refusal as its record.
int refuseOnPorts(const RunRequest& request, const ImageRefusal& refusal, CliContext& context,
                  StationPrinter& printer) {
    if (!request.json) {
        printRefusal(refusal, context.err);
    }
    const std::vector<station::Fixture> fixtures = namedFixtures(request, context);
    for (std::size_t i = 0; i < fixtures.size(); ++i) {
        station::BoardRecord record;
        record.number = i;
        record.fixture = fixtures[i];
        record.operation = request.board.operation;
        record.image.name = request.imageFile.string();
        record.started = record.ended = context.platform.wallClock();
        record.exit = ExitImage;
        record.refusal = {refusal.box, refusal.joinedReason()};
        printer.boardEnded(record);
    }
    return ExitImage;
}

// The end of a run of several boards: the summary, and its status.
int summarize(station::Station& station, const StationPrinter& printer, RunPrinter& output,
              bool json, bool several) {
    markPortHandedBack();
    output.close();
    const station::StationTally tally = station.tally();
    if (several) {
        // Standard output keeps the JSON lines alone; a summary of failures is an error report.
        output.result(summaryText(tally, printer.notSucceeded()), json || tally.exit != 0);
        if (json) {
            output.result(summaryJson(tally, printer.notSucceeded()), false);
        }
    }
    return tally.exit;
}

}  // namespace

int runOnPorts(const RunRequest& request, CliContext& context) {
    RecordLog log;
    if (!openLog(request, log, context.err)) {
        return ExitUsage;
    }
    std::unique_ptr<RunPrinter> printer;
    if (context.errIsTerminal && !request.quiet) {
        printer = std::make_unique<TerminalPrinter>(context.out, context.err, request.ports,
                                                    request.json, context.platform);
    } else {
        printer = std::make_unique<LinePrinter>(context.out, context.err, request.ports,
                                                request.json, request.quiet, context.platform);
    }
    StationPrinter observer(
        *printer, log.isOpen() ? &log : nullptr,
        {.json = request.json, .quiet = request.quiet, .tries = 1 + request.board.retries});
    ImageRefusal refusal;
    const std::optional<station::PreparedImage> image =
        prepareImage({request.imageFile, request.force}, request.board.operation, refusal);
    if (!image) {
        return refuseOnPorts(request, refusal, context, observer);
    }
    if (context.catchInterrupts) {
        installInterruptHandlers();
    }
    station::StationSeam seam = seamOf(context);
    station::Station station({.board = request.board, .name = request.station}, *image, seam,
                             observer);
    station.present(namedFixtures(request, context));
    station.close();
    station.reap(true);
    return summarize(station, observer, *printer, request.json, request.ports.size() > 1);
}

int runWatch(const RunRequest& request, CliContext& context) {
    // As under flash, a log that cannot be opened stops the watch before any port is touched.
    RecordLog log;
    if (!openLog(request, log, context.err)) {
        return ExitUsage;
    }
    ImageRefusal refusal;
    const std::optional<station::PreparedImage> image =
        prepareImage({request.imageFile, request.force}, request.board.operation, refusal);
    if (!image) {
        printRefusal(refusal, context.err);
        return ExitImage;
    }
    // A station's log grows for as long as it runs: plain lines, never a bar redrawn in place.
    LinePrinter output(context.out, context.err, {}, request.json, request.quiet, context.platform,
                       context.errIsTerminal && !request.quiet);
    if (context.catchInterrupts) {
        installInterruptHandlers();
    }
    if (!request.quiet) {
        std::string what = "USB serial adapters and virtual boards";
        if (!request.match.empty()) {
            what += " matching " + printableName(request.match);
        }
        if (!request.ports.empty()) {
            what.clear();
            for (const std::string& port : request.ports) {
                what += (what.empty() ? "" : ", ") + printableName(port);
            }
            what += ", probed every second";
        }
        output.result("watch: waiting for boards on " + what, true);
    }
    StationPrinter observer(output, log.isOpen() ? &log : nullptr,
                            {.json = request.json,
                             .quiet = request.quiet,
                             .watching = true,
                             .tries = 1 + request.board.retries});
    station::StationSeam seam = seamOf(context);
    station::Station station({.board = request.board,
                              .name = request.station,
                              .count = request.count,
                              .stopAfterFailures = request.stopAfterFailures},
                             *image, seam, observer);
    station::watch(station, {.ports = namedFixtures(request, context), .match = request.match},
                   seam, observer);
    return summarize(station, observer, output, request.json, true);
}

}  // namespace zq::cli
