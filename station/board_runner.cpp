#include "station/board_runner.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "serial/interruption.h"
#include "serial/platform_stack.h"
#include "serial/port_names.h"
#include "serial/port_state.h"
#include "station/exit_status.h"
#include "transfer/latency_advice.h"
#include "transfer/operation.h"
#include "transfer/outcome_steps.h"

namespace zq::station {

namespace {

// The owner of one try's boxes and progress: keeps every box for the record and hands it on with
// the outcome so far, and turns the phases' stages into progress. Once its outcome says a signal
// ended the operation it shows no more boxes: they would blame the port or the board for calls
// the interruption cut short.
class TryReport : public OwnerWindow, public ProgressTarget {
  public:
    TryReport(const BoardView& view, Operation operation, Try& attempt, Platform& clock,
              StationObserver& observer)
        : view_(view), operation_(operation), try_(attempt), clock_(clock), observer_(observer) {}

    std::optional<std::chrono::nanoseconds> programmingAt;  // on the platform's clock

    void showMessage(BoxStyle style, std::string_view text) override { show(style, text, false); }
    // Only a close that failed shows a box of its own.
    void showUnownedMessage(BoxStyle style, std::string_view text) override {
        show(style, text, true);
    }
    void operationStage(OperationStage stage) override {
        if (stage != OperationStage::Probing) {
            sayChoice();
        }
        if (stage == OperationStage::Programming) {
            programmingAt = clock_.now();
        }
        observer_.stage(view_, stage);
    }
    void signalHeldOff(int) override { observer_.signalHeldOff(view_); }
    void setRange(std::uint32_t maximum) override { observer_.range(view_, maximum); }
    void setPosition(std::uint32_t position) override { observer_.position(view_, position); }

    // Said before whatever follows the probe, so that a log reads in the order things happened.
    void sayChoice() {
        if (operation_ == Operation::Flash && try_.outcome.probed && !choiceSaid_) {
            choiceSaid_ = true;
            observer_.flashChose(view_, try_.outcome);
        }
    }

  private:
    void show(BoxStyle style, std::string_view text, bool unowned) {
        sayChoice();
        if (try_.outcome.kind == OutcomeKind::Interrupted) {
            return;
        }
        try_.boxes.push_back({style, std::string(text)});
        observer_.box(view_, style, text, try_.outcome, unowned);
    }

    const BoardView& view_;
    Operation operation_;
    Try& try_;
    Platform& clock_;
    StationObserver& observer_;
    bool choiceSaid_ = false;
};

Try runTry(const BoardView& view, const BoardSettings& settings, unsigned latencyMs,
           const PreparedImage& image, Platform& system, StationObserver& observer) {
    Try attempt;
    attempt.latencyMs = latencyMs;
    Outcome& outcome = attempt.outcome;
    // The wrappers pass the clock through untouched, so the system's is the stack's.
    TryReport report(view, settings.operation, attempt, system, observer);
    StackOptions options{.latency = std::chrono::milliseconds(latencyMs)};
    if (settings.trace) {
        options.trace = [&](std::string_view line) { observer.trace(view, line); };
    }
    // The board says nothing while it programs; a front end that counts the time down gets it in
    // the slices of the pause. Elsewhere the pause stays one sleep.
    if (observer.countsDown()) {
        options.whileWaiting = [&] {
            if (report.programmingAt) {
                observer.programming(view, std::chrono::duration_cast<std::chrono::milliseconds>(
                                               system.now() - *report.programmingAt));
            }
        };
    }
    PlatformStack stack(system, std::move(options));
    Platform& platform = stack.top();
    attempt.started = platform.wallClock();
    const std::chrono::nanoseconds began = platform.now();
    const Fixture& fixture = view.fixture;
    if (!fixture.note.empty()) {
        stack.note(fixture.note);
    }
    if (const std::string device = devicePath(fixture.openName); device != fixture.openName) {
        stack.note(fixture.openName + " is " + device);
    }
    stack.note(identityLine(image.identity));
    PortState port(platform);

    // A copy of its own, with room for the pad byte an odd length gets.
    std::vector<std::uint8_t> bytes(image.bytes);
    bytes.push_back(0);
    TransferJob job;
    fillJob(job, settings.operation == Operation::Update ? ModeUpdate : ModeDownload,
            fixture.openName);
    job.image = std::span<std::uint8_t>(bytes);
    job.imageLength = static_cast<std::uint32_t>(image.bytes.size());

    if (settings.operation == Operation::Flash) {
        runFlash(report, job, &report, port, outcome);
    } else {
        runOperation(report, job, &report, port, outcome);
    }
    report.sayChoice();
    // The window keeps a port some failures leave open for its next operation; a board here has
    // no next operation, so the port is handed back rather than left at the phase's settings.
    if (port.handle) {
        handBack(port, report, outcome);
    }
    attempt.exit = exitStatusFor(outcome);
    attempt.seconds = std::chrono::duration<double>(platform.now() - began).count();
    return attempt;
}

// The port is gone: the board went with it (or the adapter did).
bool portGone(const Outcome& outcome, const BoardRecord& record, const BoardLease& lease) {
    if (outcome.kind == OutcomeKind::BoardGone || (lease.pulled && *lease.pulled)) {
        return true;
    }
    const bool openedBefore = record.tries.size() > 1;
    return outcome.kind == OutcomeKind::PortNotOpened &&
           outcome.open.kind == OpenFailure::Kind::NoSuchDevice && (lease.portSeen || openedBefore);
}

// Only the board or the line failed it: an image, usage or port failure would fail again the
// same way, and after a signal (even one the programming held off) nothing more is started.
bool worthAnotherTry(const Try& last, const BoardSettings& settings, const BoardRecord& record,
                     const BoardLease& lease) {
    return last.exit == ExitFailed && record.tries.size() < 1 + settings.retries &&
           interruption::count() == 0 && (!lease.mayRetry || lease.mayRetry());
}

}  // namespace

void runBoard(BoardRecord& record, const BoardSettings& settings, const PreparedImage& image,
              Platform& platform, const BoardLease& lease, StationObserver& observer) {
    const BoardView view{record.number, record.fixture, record, platform};
    const std::chrono::nanoseconds began = platform.now();
    record.started = platform.wallClock();
    unsigned latencyMs = settings.latencyMs;
    bool endSaid = false;  // the last try's end was told, as one to be tried again
    for (;;) {
        observer.tryStarting(view, static_cast<unsigned>(record.tries.size() + 1), latencyMs);
        record.tries.push_back(runTry(view, settings, latencyMs, image, platform, observer));
        const Try& last = record.tries.back();
        const Outcome& outcome = last.outcome;
        if (outcome.succeeded()) {
            record.end = BoardEnd::Succeeded;
        } else if (outcome.kind == OutcomeKind::Interrupted) {
            record.end = BoardEnd::Interrupted;
            record.interruptedBy = outcome.signal;
        } else if (portGone(outcome, record, lease)) {
            record.end = BoardEnd::Pulled;
            record.pulledDuring = outcome.reached;
        } else if (worthAnotherTry(last, settings, record, lease)) {
            // What the failure taught is used: a reply that came late or in parts is read with
            // the latency it advises.
            latencyMs = std::max(latencyMs, advisedLatency(outcome));
            observer.tryEnded(view, last, RetryPause);
            platform.sleep(RetryPause);
            endSaid = true;
            if (interruption::count() != 0) {
                // The signal ends the board as it would have ended the try: the board is as the
                // last try left it.
                record.end = BoardEnd::Interrupted;
                record.interruptedBy = interruption::signalNumber();
                break;
            }
            if (lease.pulled && *lease.pulled) {
                // Taken away after it failed: its failure is what is known of it.
                record.end = BoardEnd::Failed;
                break;
            }
            endSaid = false;
            continue;
        } else {
            record.end = BoardEnd::Failed;
        }
        break;
    }
    switch (record.end) {
        case BoardEnd::Succeeded:
            record.exit = ExitSuccess;
            break;
        case BoardEnd::Interrupted:
            record.exit = exitStatusForSignal(record.interruptedBy);
            break;
        case BoardEnd::Pulled:
            record.exit = ExitFailed;
            break;
        case BoardEnd::Failed:
            record.exit = record.tries.back().exit;
            break;
    }
    if (!endSaid) {
        observer.tryEnded(view, record.tries.back(), std::nullopt);
    }
    record.ended = platform.wallClock();
    record.seconds = std::chrono::duration<double>(platform.now() - began).count();
}

}  // namespace zq::station
