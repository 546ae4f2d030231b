#include "station/station.h"

#include <algorithm>
#include <atomic>
#include <utility>

#include "serial/interruption.h"
#include "station/board_runner.h"
#include "station/exit_status.h"
#include "station/host_name.h"

namespace zq::station {

struct Station::Board {
    BoardRecord record;
    std::atomic<bool> pulled{false};
};

// A fixture as the listings show it, and the board in flight there, if any.
struct Station::Slot {
    Fixture fixture;
    bool present = false;
    bool plugPending = false;  // plugged again while its board still ran
    std::shared_ptr<Board> board;
    std::thread thread;
};

Station::Station(StationSettings settings, const PreparedImage& image, StationSeam& seam,
                 StationObserver& observer)
    : settings_(std::move(settings)), image_(image), seam_(seam), observer_(observer) {
    if (settings_.name.empty()) {
        settings_.name = hostName();
    }
}

Station::~Station() {
    reap(true);
}

void Station::present(const std::vector<Fixture>& fixtures) {
    const std::lock_guard hold(lock_);
    for (auto it = slots_.begin(); it != slots_.end();) {
        Slot& slot = *it->second;
        const bool listed = std::ranges::any_of(
            fixtures, [&](const Fixture& f) { return f.openName == it->first; });
        if (listed) {
            ++it;
            continue;
        }
        slot.present = false;
        slot.plugPending = false;
        if (slot.board) {
            slot.board->pulled = true;
            ++it;
        } else {
            it = slots_.erase(it);
        }
    }
    for (const Fixture& fixture : fixtures) {
        std::shared_ptr<Slot>& slot = slots_[fixture.openName];
        if (!slot) {
            slot = std::make_shared<Slot>();
        }
        if (slot->present) {
            continue;
        }
        slot->present = true;
        slot->fixture = fixture;
        if (slot->board) {
            slot->plugPending = true;
        } else {
            startLocked(slot);
        }
    }
}

bool Station::runAgain(const std::string& openName) {
    const std::lock_guard hold(lock_);
    const auto it = slots_.find(openName);
    if (it == slots_.end() || !it->second->present || it->second->board || closedLocked()) {
        return false;
    }
    startLocked(it->second);
    return true;
}

void Station::startLocked(const std::shared_ptr<Slot>& slot) {
    if (closedLocked()) {
        return;
    }
    auto board = std::make_shared<Board>();
    BoardRecord& record = board->record;
    record.number = tally_.started++;
    record.fixture = slot->fixture;
    record.operation = settings_.board.operation;
    record.image = image_.identity;
    record.station = settings_.name;
    ++tally_.running;
    slot->board = board;
    slot->thread = std::thread(&Station::run, this, slot, board);
}

void Station::run(std::shared_ptr<Slot> slot, std::shared_ptr<Board> board) {
    BoardRecord& record = board->record;
    std::unique_ptr<Platform> own = seam_.platformFor ? seam_.platformFor(record.fixture) : nullptr;
    Platform& platform = own ? *own : seam_.platform;
    observer_.boardStarted({record.number, record.fixture, record, platform});
    const BoardLease lease{.pulled = &board->pulled,
                           .mayRetry = [this] { return mayRetry(); },
                           .portSeen = record.fixture.found != Fixture::Found::Named};
    runBoard(record, settings_.board, image_, platform, lease, observer_);
    own.reset();
    observer_.boardEnded(record);

    const std::lock_guard hold(lock_);
    endLocked(record);
    ended_.push_back(std::move(slot->thread));
    if (record.end == BoardEnd::Pulled && slot->present && !slot->plugPending) {
        // Its port went away, yet no listing has shown the fixture empty: the board there now,
        // if any, is another one, to be started when a listing shows it.
        slot->present = false;
        lookAgain_ = true;
    }
    slot->board.reset();
    if (slot->present && slot->plugPending) {
        // Another board was plugged there while this one ran: it is a board of its own.
        slot->plugPending = false;
        startLocked(slot);
    } else if (!slot->present) {
        const auto it = slots_.find(record.fixture.openName);
        if (it != slots_.end() && it->second == slot) {
            slots_.erase(it);
        }
    }
    boardEnded_.notify_all();
}

void Station::endLocked(const BoardRecord& record) {
    --tally_.running;
    switch (record.end) {
        case BoardEnd::Succeeded:
            ++tally_.passed;
            tally_.failuresInRow = 0;
            return;
        case BoardEnd::Failed:
            ++tally_.failed;
            ++tally_.failuresInRow;
            if (settings_.stopAfterFailures != 0 &&
                tally_.failuresInRow >= settings_.stopAfterFailures) {
                tally_.stoppedAfterFailures = true;
            }
            break;
        case BoardEnd::Pulled:
            ++tally_.pulled;
            break;
        case BoardEnd::Interrupted:
            ++tally_.interrupted;
            break;
    }
    if (!firstFailure_ || record.number < firstFailure_->first) {
        firstFailure_ = {record.number, record.exit};
    }
    if (record.end == BoardEnd::Interrupted && interruptedBy_ == 0) {
        interruptedBy_ = record.interruptedBy;
    }
}

void Station::close() {
    const std::lock_guard hold(lock_);
    closed_ = true;
}

// A plug that comes with a signal still makes its board, whose operation then ends before
// anything is sent: every board plugged has its record.
bool Station::closedLocked() const {
    return closed_ || tally_.stoppedAfterFailures ||
           (settings_.count != 0 && tally_.started >= settings_.count);
}

bool Station::closed() const {
    const std::lock_guard hold(lock_);
    return closedLocked() || interruption::count() > 0;
}

bool Station::mayRetry() const {
    const std::lock_guard hold(lock_);
    return !tally_.stoppedAfterFailures;
}

bool Station::busy() const {
    const std::lock_guard hold(lock_);
    return tally_.running > 0;
}

bool Station::wantsWake() const {
    const std::lock_guard hold(lock_);
    return tally_.running > 0 || lookAgain_;
}

bool Station::takeLookAgain() {
    const std::lock_guard hold(lock_);
    return std::exchange(lookAgain_, false);
}

bool Station::running(const std::string& openName) const {
    const std::lock_guard hold(lock_);
    const auto it = slots_.find(openName);
    return it != slots_.end() && it->second->board != nullptr;
}

void Station::reap(bool all) {
    std::unique_lock hold(lock_);
    for (;;) {
        std::vector<std::thread> ended = std::exchange(ended_, {});
        hold.unlock();
        for (std::thread& thread : ended) {
            thread.join();
        }
        hold.lock();
        if (!all || (tally_.running == 0 && ended_.empty())) {
            return;
        }
        if (ended_.empty()) {
            boardEnded_.wait(hold);
        }
    }
}

StationTally Station::tally() const {
    const std::lock_guard hold(lock_);
    StationTally tally = tally_;
    // A signal ends the whole run, whichever board it cut short.
    tally.exit = interruptedBy_ != 0           ? exitStatusForSignal(interruptedBy_)
                 : tally_.stoppedAfterFailures ? ExitStoppedAfterFailures
                 : firstFailure_               ? firstFailure_->second
                                               : ExitSuccess;
    return tally;
}

}  // namespace zq::station
