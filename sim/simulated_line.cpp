#include "sim/simulated_line.h"

#include <algorithm>

#include "serial/interruption.h"
#include "serial/timeout_rules.h"

namespace zq::sim {

namespace {
constexpr unsigned DefaultBaud = 14400;

SystemError droppedLine() {
    return {.code = 5, .text = "Input/output error", .deviceGone = true};
}

SystemError interrupted() {
    return {.code = 4, .text = "interrupted", .interrupted = true};
}
}  // namespace

class SimulatedLine::Device : public SerialDevice {
  public:
    explicit Device(SimulatedLine& line) : line_(line) {}
    ~Device() override {
        if (!closed_) {
            line_.open_ = false;
        }
    }

    SystemError lastError() const override { return lastError_; }

    bool getState(LineSettings& out) override {
        const bool ok = !line_.faults.getStateFails || fail();
        line_.record(PortEvent::Kind::GetState, ok);
        if (ok) {
            out = line_.settings_;
        }
        return ok;
    }

    bool setState(const LineSettings& settings) override {
        const bool ok =
            !(line_.faults.setStateFails && line_.faults.setStateFails(settings)) || fail();
        line_.record(PortEvent::Kind::SetState, ok);
        if (ok) {
            line_.settings_ = settings;
        }
        return ok;
    }

    bool getTimeouts(CommTimeouts& out) override {
        const bool ok = !line_.faults.getTimeoutsFails || fail();
        line_.record(PortEvent::Kind::GetTimeouts, ok);
        if (ok) {
            out = line_.timeouts_;
        }
        return ok;
    }

    bool setTimeouts(const CommTimeouts& timeouts) override {
        const bool ok =
            !(line_.faults.setTimeoutsFails && line_.faults.setTimeoutsFails(timeouts)) || fail();
        line_.record(PortEvent::Kind::SetTimeouts, ok);
        if (ok) {
            line_.timeouts_ = timeouts;
        }
        return ok;
    }

    bool setupQueues(std::uint32_t, std::uint32_t) override {
        const bool ok = !line_.faults.setupQueuesFails || fail();
        line_.record(PortEvent::Kind::SetupQueues, ok);
        return ok;
    }

    // Writes complete before they return, so there is never output left to wait for; but a
    // drain is a wait, and a signal cuts it as on a real port.
    bool flush() override {
        const bool ok = !interruption::stopsWaits() || fail(interrupted());
        return line_.record(PortEvent::Kind::Flush, ok).ok;
    }
    bool clearErrors() override { return line_.record(PortEvent::Kind::ClearErrors).ok; }

    bool purge(std::uint32_t flags) override {
        line_.record(PortEvent::Kind::Purge);
        if ((flags & PurgeRxClear) != 0) {
            // Only what has arrived is discarded; bytes still on the wire land afterwards.
            auto& pending = line_.board.output();
            const SimTime now = line_.clock.now();
            while (!pending.empty() && pending.front().at <= now) {
                pending.pop_front();
            }
        }
        return true;
    }

    std::string openNotes() const override { return line_.openNotes; }

    // What has fully arrived by now; bytes still on the wire are not counted.
    std::optional<std::size_t> queuedInput() override {
        const auto& pending = line_.board.output();
        const SimTime now = line_.clock.now();
        return static_cast<std::size_t>(std::count_if(
            pending.begin(), pending.end(), [now](const TimedByte& b) { return b.at <= now; }));
    }

    bool read(std::span<std::uint8_t> into, std::size_t& got) override;
    bool write(std::span<const std::uint8_t> bytes, std::size_t& written) override;

    bool close() override {
        if (line_.faults.closeFailures > 0) {
            --line_.faults.closeFailures;
            line_.record(PortEvent::Kind::CloseFailed, false);
            return fail();
        }
        line_.record(PortEvent::Kind::Close);
        line_.open_ = false;
        closed_ = true;
        return true;
    }

  private:
    unsigned lineBaud() const {
        const unsigned baud = line_.settings_.fields.baudRate;
        return baud != 0 ? baud : DefaultBaud;
    }

    // Always false, for `ok || fail()`.
    bool fail(SystemError error) {
        lastError_ = std::move(error);
        return false;
    }
    bool fail() { return fail(line_.faults.error); }

    SimulatedLine& line_;
    bool closed_ = false;
    SystemError lastError_{};
};

bool SimulatedLine::Device::read(std::span<std::uint8_t> into, std::size_t& got) {
    got = 0;
    const SimTime start = line_.clock.now();
    PortEvent& event = line_.record(PortEvent::Kind::Read);
    event.asked = into.size();
    if (line_.board.lineDropped()) {
        event.ok = false;
        return fail(droppedLine());
    }
    if (line_.faults.readFails && line_.faults.readFails()) {
        event.ok = false;
        return fail();
    }
    // After a signal only bytes already there are taken; the read does not wait for more.
    const bool cut = interruption::stopsWaits();
    const ReadTimeoutRule rule = ReadTimeoutRule::forRead(line_.timeouts_, into.size());
    std::optional<SimTime> deadline;
    if (rule.total) {
        deadline = start + *rule.total;
    }
    std::optional<SimTime> last;
    auto& pending = line_.board.output();
    while (got < into.size() && !pending.empty()) {
        const SimTime takeAt = std::max(pending.front().at, start);
        if ((rule.returnAtOnce || cut) && takeAt > start) {
            break;
        }
        if (deadline && takeAt > *deadline) {
            break;
        }
        if (last && rule.interval && takeAt - *last > *rule.interval) {
            break;
        }
        if (rule.returnOnFirstBytes && last && takeAt > *last) {
            break;
        }
        into[got++] = pending.front().byte;
        event.bytes.push_back(pending.front().byte);
        last = takeAt;
        pending.pop_front();
    }
    if (cut && got < into.size()) {
        event.ok = false;
        return fail(interrupted());
    }
    SimTime end = start;
    if (got == into.size() || rule.returnAtOnce || (rule.returnOnFirstBytes && last)) {
        end = last.value_or(start);
    } else {
        std::optional<SimTime> limit = deadline;
        if (last && rule.interval) {
            const SimTime gapEnd = *last + *rule.interval;
            limit = limit ? std::min(*limit, gapEnd) : gapEnd;
        }
        if (!limit) {
            // Without any timeout the call would wait for ever: report it rather than hang.
            event.ok = false;
            return false;
        }
        end = *limit;
    }
    line_.clock.advanceTo(end);
    event.endedAt = line_.clock.now();
    return true;
}

bool SimulatedLine::Device::write(std::span<const std::uint8_t> bytes, std::size_t& written) {
    written = 0;
    const SimTime start = line_.clock.now();
    PortEvent& event = line_.record(PortEvent::Kind::Write);
    event.asked = bytes.size();
    if (line_.board.lineDropped()) {
        event.ok = false;
        return fail(droppedLine());
    }
    std::size_t allowed = bytes.size();
    if (line_.faults.writeFault) {
        if (const std::optional<long> fault = line_.faults.writeFault(bytes)) {
            if (*fault < 0) {
                event.ok = false;
                return fail();
            }
            allowed = std::min(allowed, static_cast<std::size_t>(*fault));
        }
    }
    if (interruption::stopsWaits()) {
        event.ok = false;
        return fail(interrupted());
    }
    const auto limit = writeTimeLimit(line_.timeouts_, bytes.size());
    const unsigned baud = lineBaud();
    SimTime end = start;
    for (std::size_t k = 1; k <= allowed; ++k) {
        const SimTime done = byteDone(start, baud, static_cast<long long>(k));
        if (limit && done > start + *limit) {
            break;
        }
        line_.board.receive(bytes[k - 1], done);
        event.bytes.push_back(bytes[k - 1]);
        ++written;
        end = done;
        if (line_.board.lineDropped()) {
            line_.clock.advanceTo(end);
            event.endedAt = end;
            event.ok = false;
            return fail(droppedLine());
        }
    }
    if (written < bytes.size() && limit) {
        end = start + *limit;  // a write that cannot finish returns at its deadline
    }
    line_.clock.advanceTo(end);
    event.endedAt = end;
    return true;
}

SimulatedLine::SimulatedLine(BoardConfig board)
    : board(std::move(board)), settings_(initialSettings()), timeouts_(initialTimeouts()) {}

SimulatedLine::~SimulatedLine() = default;

LineSettings SimulatedLine::initialSettings() {
    // Deliberately far from what the program applies, so that a missing restore shows.
    LineSettings s;
    DcbFields& f = s.fields;
    f.baudRate = 9600;
    f.byteSize = 7;
    f.parity = Parity::Even;
    f.stopBits = StopBits::Two;
    f.parityCheck = true;
    f.outxCtsFlow = true;
    f.dtrControl = DtrControl::Handshake;
    f.dsrSensitivity = true;
    f.outX = true;
    f.inX = true;
    f.nullStrip = true;
    f.rtsControl = RtsControl::Handshake;
    f.xonLim = 2048;
    f.xoffLim = 512;
    s.native = {0x53, 0x49, 0x4D, 0x01};
    return s;
}

CommTimeouts SimulatedLine::initialTimeouts() {
    return {50, 10, 100, 20, 200};
}

PortEvent& SimulatedLine::record(PortEvent::Kind kind, bool ok) {
    const SimTime now = clock.now();
    events.push_back(PortEvent{kind, now, now, {}, 0, ok});
    return events.back();
}

std::unique_ptr<SerialDevice> SimulatedLine::openSerial(const std::string& name, OpenFailure& why) {
    why = {};
    if (name != deviceName) {
        why.kind = OpenFailure::Kind::NoSuchDevice;
    } else if (faults.openFails) {
        why.kind = *faults.openFails;
    } else if (open_) {
        why.kind = OpenFailure::Kind::Busy;
    }
    if (why.kind != OpenFailure::Kind::None) {
        record(PortEvent::Kind::OpenFailed, false);
        return nullptr;
    }
    record(PortEvent::Kind::Open);
    open_ = true;
    return std::make_unique<Device>(*this);
}

void SimulatedLine::sleep(std::chrono::milliseconds duration) {
    if (faults.onSleep) {
        faults.onSleep(duration);
    }
    PortEvent& event = record(PortEvent::Kind::Sleep);
    event.asked = static_cast<std::size_t>(duration.count());
    // A signal ends a wait at once; one a shield absorbs lets it run its whole length.
    if (!interruption::stopsWaits()) {
        clock.advanceBy(duration);
    }
    event.endedAt = clock.now();
}

void SimulatedLine::beginTimerResolution() {
    ++timerRequests_;
    record(PortEvent::Kind::TimerBegin);
}

void SimulatedLine::endTimerResolution() {
    --timerRequests_;
    record(PortEvent::Kind::TimerEnd);
}

std::vector<std::uint8_t> SimulatedLine::wireFromHost() const {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(board.received().size());
    for (const TimedByte& b : board.received()) {
        bytes.push_back(b.byte);
    }
    return bytes;
}

std::vector<const PortEvent*> SimulatedLine::eventsOf(PortEvent::Kind kind) const {
    std::vector<const PortEvent*> found;
    for (const PortEvent& e : events) {
        if (e.kind == kind) {
            found.push_back(&e);
        }
    }
    return found;
}

}  // namespace zq::sim
