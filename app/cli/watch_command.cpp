#include "app/cli/watch_command.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "app/cli/board_tries.h"
#include "app/cli/command_line.h"
#include "app/cli/exit_status.h"
#include "app/cli/glob_match.h"
#include "app/cli/line_printer.h"
#include "app/cli/plug_tracker.h"
#include "app/cli/safe_text.h"
#include "app/cli/system_support.h"
#include "serial/interruption.h"
#include "serial/port_fault_text.h"
#include "serial/port_names.h"
#include "transfer/operation.h"

namespace zq::cli {

namespace {

using namespace std::chrono_literals;

// How often the ports given are probed for a board, and the ports listed where the system sends
// no plug events.
constexpr std::chrono::milliseconds LookEvery = 1s;
// While boards run, the wait for plug events also wakes this often, so that a count reached by
// a board plugged again while it ran ends the watch without a plug event.
constexpr int BusyWakeMs = 100;

// A port as the line that announces its board shows it.
std::string described(const PortInfo& port) {
    std::string about;
    // A virtual board's description says that it is one, and its mode.
    for (const std::string& part : {port.description, vidPidText(port)}) {
        if (!part.empty()) {
            about += (about.empty() ? "" : ", ") + part;
        }
    }
    const std::string name = printableName(shownName(port));
    return about.empty() ? name : name + " (" + printableName(about) + ")";
}

struct Present {
    std::string port;   // the name its job opens
    std::string about;  // for the line that announces it
};

// The boards of a watch, each on a thread of its own from its appearance to its result, and the
// tally the summary is made of (not every result: a station may run for days).
class Station {
  public:
    Station(const WatchRequest& request, CliContext& context, const PreparedImage& image,
            RunPrinter& output, ResultLog* log)
        : request_(request), context_(context), image_(image), output_(output), log_(log) {}
    ~Station() { reap(true); }
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    void see(const std::vector<Present>& present) {
        std::vector<std::string> ports;
        for (const Present& p : present) {
            ports.push_back(p.port);
        }
        const std::lock_guard hold(lock_);
        for (const std::string& port : tracker_.present(ports)) {
            if (closedLocked()) {
                break;
            }
            const auto it = std::ranges::find(ports, port);
            const std::string& about = present[static_cast<std::size_t>(it - ports.begin())].about;
            const std::size_t order = announceLocked(about);
            threads_.emplace(order, std::thread(&Station::run, this, order, port, about));
        }
    }

    // A line of the watch's own about the ports, on standard error.
    void say(const std::string& line) { output_.result(line, true); }

    bool running(const std::string& port) {
        const std::lock_guard hold(lock_);
        return tracker_.running(port);
    }
    bool busy() {
        const std::lock_guard hold(lock_);
        return threads_.size() > done_.size();
    }
    // Nothing more will start: the count is reached or a signal came.
    bool closed() {
        const std::lock_guard hold(lock_);
        return closedLocked();
    }

    // Joins the threads of the boards that are done; with `all`, of every board, waiting for
    // them.
    void reap(bool all) {
        std::vector<std::thread> ended;
        {
            const std::lock_guard hold(lock_);
            for (auto it = threads_.begin(); it != threads_.end();) {
                if (all || std::ranges::find(done_, it->first) != done_.end()) {
                    ended.push_back(std::move(it->second));
                    it = threads_.erase(it);
                } else {
                    ++it;
                }
            }
            if (all) {
                done_.clear();
            } else {
                std::erase_if(done_, [&](std::size_t key) { return !threads_.contains(key); });
            }
        }
        for (std::thread& t : ended) {
            t.join();
        }
    }

    // Prints the summary and gives the exit status.
    int summarize() {
        const std::lock_guard hold(lock_);
        unsigned failed = 0;
        for (const auto& [exit, boards] : failedBy_) {
            failed += boards;
        }
        std::string text = "summary: " + std::to_string(succeeded_) + " of " +
                           std::to_string(succeeded_ + failed) + " boards succeeded";
        for (const auto& [exit, boards] : failedBy_) {
            text += "\nsummary: " + std::to_string(boards) + (boards == 1 ? " board" : " boards") +
                    (exit > 128 ? " interrupted by signal " + std::to_string(exit - 128) + " (exit "
                                : " failed (exit ") +
                    std::to_string(exit) + ")";
        }
        // A signal ends the whole run, whichever board it cut short.
        const int status = interruptedBy_ != 0 ? 128 + interruptedBy_
                           : firstFailure_     ? firstFailure_->second
                                               : ExitSuccess;
        output_.result(text, request_.flash.json || status != ExitSuccess);
        return status;
    }

  private:
    bool closedLocked() const {
        return interruption::count() > 0 || (request_.count != 0 && started_ >= request_.count);
    }

    std::size_t announceLocked(const std::string& about) {
        output_.result("watch: board on " + about, true);
        return started_++;
    }

    void run(std::size_t key, const std::string& port, const std::string& about) {
        for (std::size_t order = key;;) {
            std::unique_ptr<Platform> own;
            Platform* platform = &context_.platform;
            if (context_.platformFor) {
                own = context_.platformFor(port);
                platform = own.get();
            }
            // As flash runs one of several boards: retried, printed and logged the same way.
            const BoardResult result = runAndReportBoard(
                request_.flash, image_,
                {.index = output_.addBoard(port), .port = port, .platform = platform}, output_,
                log_);
            const std::lock_guard hold(lock_);
            tally(result, order);
            // Unplugged and plugged again while it ran: another board is there now.
            if (tracker_.finished(port) && !closedLocked()) {
                order = announceLocked(about);
                continue;
            }
            done_.push_back(key);
            return;
        }
    }

    void tally(const BoardResult& result, std::size_t order) {
        if (result.ok) {
            ++succeeded_;
            return;
        }
        ++failedBy_[result.exit];
        if (result.interruptedBy != 0) {
            interruptedBy_ = result.interruptedBy;
        }
        if (!firstFailure_ || order < firstFailure_->first) {
            firstFailure_ = {order, result.exit};
        }
    }

    const WatchRequest& request_;
    CliContext& context_;
    const PreparedImage& image_;
    RunPrinter& output_;
    ResultLog* log_;  // null without --log
    std::mutex lock_;
    PlugTracker tracker_;
    std::map<std::size_t, std::thread> threads_;  // by the order its first board appeared in
    std::vector<std::size_t> done_;               // threads that have ended, to be joined
    std::size_t started_ = 0;
    unsigned succeeded_ = 0;
    std::map<int, unsigned> failedBy_;                           // boards by exit status
    std::optional<std::pair<std::size_t, int>> firstFailure_{};  // its order and status
    int interruptedBy_ = 0;
};

// The ports given, each present while its board answers the probe. A port whose board runs is
// not probed: it stays present until its result is in.
void probePorts(const WatchRequest& request, CliContext& context, Station& station) {
    // A port another program holds is said once, with who holds it, not at every probe.
    std::set<std::string> toldHeld;
    while (!station.closed()) {
        std::vector<Present> present;
        for (const std::string& port : request.flash.ports) {
            if (station.running(port)) {
                present.push_back({port, {}});
                continue;
            }
            std::unique_ptr<Platform> own =
                context.platformFor ? context.platformFor(port) : nullptr;
            OpenFailure opened;
            if (probeBoard(own ? *own : context.platform, port, &opened)) {
                present.push_back({port, printableName(port) + " (it answers the handshake)"});
            } else if (opened.kind == OpenFailure::Kind::Busy && toldHeld.insert(port).second) {
                station.say("watch: " + explainOpenFailure(opened, printableName(port)).advice +
                            " It is looked at again every second.");
            }
        }
        station.see(present);
        station.reap(false);
        if (!station.closed()) {
            context.platform.sleep(LookEvery);
        }
    }
}

// The USB serial adapters and virtual boards listed, listed again on every plug event.
void watchListedPorts(const WatchRequest& request, CliContext& context, Station& station) {
    // Made before the first listing, so that nothing plugged in between is missed.
    const std::unique_ptr<PortWatcher> watcher =
        context.watchPorts ? context.watchPorts() : nullptr;
    const int events = watcher ? watcher->eventDescriptor() : -1;
    bool relist = true;
    while (!station.closed()) {
        if (relist) {
            std::vector<Present> present;
            for (const PortInfo& port :
                 context.listPorts ? context.listPorts() : std::vector<PortInfo>{}) {
                if (isWatched(port, request.match)) {
                    present.push_back({openName(port), described(port)});
                }
            }
            station.see(present);
        }
        station.reap(false);
        if (station.closed()) {
            break;
        }
        if (events >= 0) {
            awaitReadableOrSignal(events, station.busy() ? BusyWakeMs : -1);
            relist = watcher->takeEvents();
        } else {
            context.platform.sleep(LookEvery);
        }
    }
}

}  // namespace

bool isWatched(const PortInfo& port, const std::string& pattern) {
    if (!port.isUsb() && !port.isVirtual()) {
        return false;
    }
    if (pattern.empty()) {
        return true;
    }
    for (const std::string& name :
         {port.systemName, port.devicePath, port.stableName, port.description, vidPidText(port)}) {
        if (!name.empty() && globMatches(pattern, name)) {
            return true;
        }
    }
    return false;
}

int runWatch(const WatchRequest& request, CliContext& context) {
    // As under flash, a log that cannot be opened stops the watch before any port is touched.
    ResultLog log;
    if (!openResultLog(request.flash, log, context.err)) {
        return ExitUsage;
    }
    ImageRefusal refusal;
    const std::optional<PreparedImage> image = prepareImage(request.flash, refusal);
    if (!image) {
        printRefusal(refusal, context.err);
        return ExitImage;
    }
    // A station's log grows for as long as it runs: plain lines, never a bar redrawn in place.
    LinePrinter output(context.out, context.err, {}, request.flash.json, request.flash.quiet,
                       context.platform);
    if (context.catchInterrupts) {
        installInterruptHandlers();
    }
    if (!request.flash.quiet) {
        std::string what = "USB serial adapters and virtual boards";
        if (!request.match.empty()) {
            what += " matching " + printableName(request.match);
        }
        if (!request.flash.ports.empty()) {
            what.clear();
            for (const std::string& port : request.flash.ports) {
                what += (what.empty() ? "" : ", ") + printableName(port);
            }
            what += ", probed every second";
        }
        output.result("watch: waiting for boards on " + what, true);
    }
    int status = ExitSuccess;
    {
        Station station(request, context, *image, output,
                        request.flash.logFile.empty() ? nullptr : &log);
        if (request.flash.ports.empty()) {
            watchListedPorts(request, context, station);
        } else {
            probePorts(request, context, station);
        }
        // A signal brings every board in flight to its end as it does under flash.
        station.reap(true);
        markPortHandedBack();
        output.close();
        status = station.summarize();
    }
    return status;
}

}  // namespace zq::cli
