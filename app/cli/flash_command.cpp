#include "app/cli/flash_command.h"

#include <memory>
#include <optional>
#include <thread>

#include "app/cli/command_line.h"
#include "app/cli/exit_status.h"
#include "app/cli/json_result.h"
#include "app/cli/system_support.h"
#include "app/cli/transfer_command.h"
#include "image/built_in_image.h"
#include "image/image_source.h"
#include "image/image_store.h"

namespace zq::cli {

namespace {

// Keeps the boxes of the image load for the results instead of printing them at once.
class KeptBoxes : public OwnerWindow {
  public:
    void showMessage(BoxStyle style, std::string_view text) override {
        boxes.push_back({style, std::string(text)});
    }
    void showUnownedMessage(BoxStyle style, std::string_view text) override {
        showMessage(style, text);
    }
    std::vector<ShownBox> boxes;
};

struct Refusal {
    std::vector<ShownBox> boxes;
    std::string reason;
};

// The image every board gets, or why it was refused; read before any port is touched.
std::optional<PreparedImage> prepareImage(const GangRequest& request, const CliContext& context,
                                          Refusal& refusal) {
    PreparedImage prepared;
    if (request.imageFile.empty()) {
        prepared.bytes.assign(builtInImage(), builtInImage() + BuiltInImageLength);
        prepared.identity.name = "built-in";
    } else {
        // Declared before the job, which points into it.
        ImageStore store;
        TransferJob job;
        KeptBoxes window;
        const ImageSource source =
            loadImageSource(window, request.imageFile, context.startup, job, store);
        refusal.boxes = window.boxes;
        if (!source.ok()) {
            // Empty when the box says it all.
            refusal.reason = imageSourceFailureLine(source, request.imageFile, context.startup);
            return std::nullopt;
        }
        if (job.imageLength == 0) {
            refusal.reason = request.imageFile.string() +
                             ": the file is empty: there is nothing "
                             "to send";
            return std::nullopt;
        }
        prepared.bytes.assign(job.image, job.image + job.imageLength);
        prepared.identity.name = request.imageFile.string();
    }
    prepared.identity.length = static_cast<std::uint32_t>(prepared.bytes.size());
    prepared.identity.sha256 = sha256Hex(prepared.bytes);
    return prepared;
}

std::string summaryOf(const std::vector<BoardResult>& results) {
    std::size_t succeeded = 0;
    for (const BoardResult& r : results) {
        succeeded += r.ok ? 1 : 0;
    }
    std::string text = "summary: " + std::to_string(succeeded) + " of " +
                       std::to_string(results.size()) + " boards succeeded";
    for (const BoardResult& r : results) {
        if (!r.ok) {
            text += "\nsummary: " + r.port + " failed (exit " + std::to_string(r.exit) + ")";
            if (r.reason) {
                text += ": " + *r.reason;
            } else if (!r.messages.empty()) {
                const std::string& box = r.messages.front().text;
                text += ": " + box.substr(0, box.find('\n'));
            }
        }
    }
    return text;
}

}  // namespace

int runGang(const GangRequest& request, CliContext& context) {
    const ProgressStyle style = request.quiet           ? ProgressStyle::None
                                : context.errIsTerminal ? ProgressStyle::Terminal
                                                        : ProgressStyle::Lines;
    RunOutput output(context.out, context.err, style, request.ports, request.json);
    const std::size_t count = request.ports.size();
    std::vector<BoardResult> results(count);

    Refusal refusal;
    const std::optional<PreparedImage> image = prepareImage(request, context, refusal);
    if (!image) {
        // Nothing was sent to any board; the boxes and the reason are said once for all.
        for (std::size_t i = 0; i < count; ++i) {
            BoardResult& r = results[i];
            r.port = request.ports[i];
            r.device = devicePathFor(r.port);
            r.operation = operationName(request.operation);
            r.exit = ExitImage;
            r.messages = refusal.boxes;
            if (!refusal.reason.empty()) {
                r.reason = refusal.reason;
            }
            r.image.name = request.imageFile.string();
            r.started = std::chrono::system_clock::now();
        }
        if (request.json) {
            for (const BoardResult& r : results) {
                output.result(jsonLine(r), false);
            }
        } else {
            RunOutput once(context.out, context.err, ProgressStyle::None, {""}, false);
            for (std::size_t i = 0; i < refusal.boxes.size(); ++i) {
                const bool last = i + 1 == refusal.boxes.size();
                once.box(0, refusal.boxes[i].style, refusal.boxes[i].text,
                         last ? refusal.reason : "");
            }
            if (refusal.boxes.empty() && !refusal.reason.empty()) {
                once.note(0, refusal.reason);
            }
        }
        return ExitImage;
    }

    const auto runOne = [&](std::size_t i) {
        std::unique_ptr<Platform> own;
        Platform* platform = &context.platform;
        if (context.platformFor) {
            own = context.platformFor(request.ports[i]);
            platform = own.get();
        }
        results[i] = runBoard({.index = i,
                               .port = request.ports[i],
                               .operation = request.operation,
                               .trace = request.trace,
                               .image = &*image,
                               .platform = platform,
                               .output = &output});
        if (request.json) {
            output.result(jsonLine(results[i]), false);
        }
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
    output.close();

    int status = ExitSuccess;
    for (const BoardResult& r : results) {
        if (!r.ok) {
            status = r.exit;
            break;
        }
    }
    if (count > 1) {
        // Standard output keeps the JSON lines alone; a summary of failures is an error report.
        output.result(summaryOf(results), request.json || status != ExitSuccess);
    }
    return status;
}

}  // namespace zq::cli
