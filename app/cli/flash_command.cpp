#include "app/cli/flash_command.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <thread>

#include "app/cli/board_tries.h"
#include "app/cli/command_line.h"
#include "app/cli/exit_status.h"
#include "station/image_choice.h"
#include "app/cli/line_printer.h"
#include "app/cli/result_log.h"
#include "app/cli/safe_text.h"
#include "app/cli/system_support.h"
#include "app/cli/terminal_printer.h"
#include "app/explain/reason_text.h"
#include "serial/port_names.h"
#include "transfer/operation.h"

namespace zq::cli {

namespace {

std::string summaryOf(const std::vector<BoardResult>& results) {
    const auto succeeded = std::ranges::count(results, true, &BoardResult::ok);
    std::string text = "summary: " + std::to_string(succeeded) + " of " +
                       std::to_string(results.size()) + " boards succeeded";
    for (const BoardResult& r : results) {
        if (r.ok) {
            continue;
        }
        if (r.interruptedBy != 0) {
            text += "\nsummary: " + printableName(r.port) + " interrupted by signal " +
                    std::to_string(r.interruptedBy) + " (exit " + std::to_string(r.exit) + ")";
            continue;
        }
        text +=
            "\nsummary: " + printableName(r.port) + " failed (exit " + std::to_string(r.exit) + ")";
        if (r.reason) {
            text += ": " + r.reason->substr(0, r.reason->find('\n'));
        } else if (!r.messages.empty()) {
            const std::string& box = r.messages.front().text;
            text += ": " + box.substr(0, box.find('\n'));
        }
    }
    return text;
}

// The box an image check shows, kept for the refusal.
class BoxRecorder final : public OwnerWindow {
  public:
    void showMessage(BoxStyle, std::string_view shown) override { text = shown; }
    void showUnownedMessage(BoxStyle, std::string_view) override {}

    std::string text;
};

}  // namespace

std::optional<PreparedImage> prepareImage(const GangRequest& request, ImageRefusal& refusal) {
    ChosenImage chosen = chooseImage({request.imageFile, request.force});
    if (!chosen.ok()) {
        refusal = chosen.refusal;
        return std::nullopt;
    }
    // The core judges the image for every phase the operation may run before any board is
    // touched, flash's both included; its box and the reason its outcome gives are said once.
    ImageStore store;
    TransferJob job;
    fillJob(job, request.operation == Operation::Update ? ModeUpdate : ModeDownload, {});
    holdImage(job, store, chosen.bytes);
    BoxRecorder boxes;
    if (Outcome outcome; !checkImage(boxes, job, job.mode, outcome)) {
        refusal = {boxes.text,
                   {printableName(chosen.identity.name) + ": " + explainOutcome(outcome, {})}};
        return std::nullopt;
    }
    return PreparedImage{std::move(chosen.bytes), std::move(chosen.identity)};
}

bool openResultLog(const GangRequest& request, ResultLog& log, std::ostream& err) {
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

int runGang(const GangRequest& request, CliContext& context) {
    ResultLog log;
    if (!openResultLog(request, log, context.err)) {
        return ExitUsage;
    }
    ResultLog* const resultsLog = request.logFile.empty() ? nullptr : &log;
    std::unique_ptr<RunPrinter> printer;
    if (context.errIsTerminal && !request.quiet) {
        printer = std::make_unique<TerminalPrinter>(context.out, context.err, request.ports,
                                                    request.json, context.platform);
    } else {
        printer = std::make_unique<LinePrinter>(context.out, context.err, request.ports,
                                                request.json, request.quiet, context.platform);
    }
    RunPrinter& output = *printer;
    const std::size_t count = request.ports.size();
    std::vector<BoardResult> results(count);

    ImageRefusal refusal;
    const std::optional<PreparedImage> image = prepareImage(request, refusal);
    if (!image) {
        std::vector<ShownBox> boxes;
        if (!refusal.box.empty()) {
            boxes.push_back({BoxStyle::Error, std::string(refusal.box)});
        }
        // Nothing was sent to any board; the boxes and the reason are said once for all.
        for (std::size_t i = 0; i < count; ++i) {
            BoardResult& r = results[i];
            r.port = request.ports[i];
            r.device = devicePath(r.port);
            r.operation = operationName(request.operation);
            r.exit = ExitImage;
            r.messages = boxes;
            r.reason = refusal.joinedReason();
            r.image.name = request.imageFile.string();
            r.started = context.platform.wallClock();
        }
        if (!request.json) {
            printRefusal(refusal, context.err);
        }
        for (std::size_t i = 0; i < count; ++i) {
            reportResult(results[i], i, request.json, output, resultsLog);
        }
        return ExitImage;
    }

    if (context.catchInterrupts) {
        installInterruptHandlers();
    }
    const auto runOne = [&](std::size_t i) {
        std::unique_ptr<Platform> own;
        Platform* platform = &context.platform;
        if (context.platformFor) {
            own = context.platformFor(request.ports[i]);
            platform = own.get();
        }
        results[i] = runAndReportBoard(
            request, *image,
            {.index = i,
             .port = request.ports[i],
             .portNote = i < request.portNotes.size() ? request.portNotes[i] : std::string(),
             .platform = platform},
            output, resultsLog);
    };
    if (count == 1) {
        runOne(0);
    } else {
        std::vector<std::thread> threads;
        threads.reserve(count);
        for (std::size_t i = 0; i < count; ++i) {
            threads.emplace_back(runOne, i);
        }
        for (std::thread& t : threads) {
            t.join();
        }
    }
    markPortHandedBack();
    output.close();

    // A signal interrupts the whole run, whichever board it cut short.
    auto decisive =
        std::ranges::find_if(results, [](const BoardResult& r) { return r.interruptedBy != 0; });
    if (decisive == results.end()) {
        decisive = std::ranges::find(results, false, &BoardResult::ok);
    }
    const int status = decisive == results.end() ? ExitSuccess : decisive->exit;
    if (count > 1) {
        // Standard output keeps the JSON lines alone; a summary of failures is an error report.
        output.result(summaryOf(results), request.json || status != ExitSuccess);
    }
    return status;
}

}  // namespace zq::cli
