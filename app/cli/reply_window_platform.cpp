#include "app/cli/reply_window_platform.h"

#include <algorithm>
#include <cstdio>

#include "serial/timeout_rules.h"

namespace zq::cli {

namespace {

using std::chrono::milliseconds;
using std::chrono::nanoseconds;

std::string millisecondsText(nanoseconds duration) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f ms",
                  std::chrono::duration<double, std::milli>(duration).count());
    return text;
}

}  // namespace

CommTimeouts widenReadWindow(const CommTimeouts& timeouts, milliseconds extra) {
    const ReadTimeoutRule rule = ReadTimeoutRule::forRead(timeouts, 1);
    // A read that returns at once, or one that waits for ever, has no window to widen.
    if (extra.count() <= 0 || !rule.total || rule.returnAtOnce) {
        return timeouts;
    }
    CommTimeouts widened = timeouts;
    const auto room =
        static_cast<long long>(TimeoutMaxDword - 1) - timeouts.readTotalTimeoutConstant;
    widened.readTotalTimeoutConstant +=
        static_cast<std::uint32_t>(std::min<long long>(extra.count(), std::max(room, 0LL)));
    return widened;
}

std::string latencyAdviceFor(nanoseconds late) {
    // The delay is only known to within the pause before the next call, so the advice rounds up
    // to the next 10 ms and never offers less than covers a common adapter's 16 ms timer.
    const auto lateMs = std::chrono::ceil<milliseconds>(late).count();
    const long long suggested = std::max<long long>(20, (lateMs + 9) / 10 * 10);
    return "A reply came up to " + std::to_string(lateMs) +
           " ms after the program stopped waiting for it, as USB serial adapters do when they "
           "hold small replies back; try --latency " +
           std::to_string(suggested) + ", or set the adapter's latency timer to 1 ms.";
}

class ReplyWindowPlatform::Device : public SerialDevice {
  public:
    Device(ReplyWindowPlatform& owner, std::unique_ptr<SerialDevice> inner)
        : owner_(owner), inner_(std::move(inner)) {}

    bool getState(LineSettings& out) override { return inner_->getState(out); }
    bool setState(const LineSettings& settings) override {
        const bool ok = inner_->setState(settings);
        if (ok) {
            baud_ = settings.fields.baudRate;
        }
        return ok;
    }

    bool getTimeouts(CommTimeouts& out) override {
        const bool ok = inner_->getTimeouts(out);
        if (ok && !found_) {
            found_ = out;
        }
        return ok;
    }

    bool setTimeouts(const CommTimeouts& timeouts) override {
        // The timeouts found on the port go back untouched.
        if (found_ && timeouts == *found_) {
            return inner_->setTimeouts(timeouts);
        }
        return inner_->setTimeouts(widenReadWindow(timeouts, owner_.extra_));
    }

    bool setupQueues(std::uint32_t in, std::uint32_t out) override {
        return inner_->setupQueues(in, out);
    }
    // Bytes waiting when the program throws input away are replies nobody read: after a short
    // read, most likely the one that missed its window.
    bool flush() override {
        lookForLateReply(Call::Discard);
        return inner_->flush();
    }
    bool clearErrors() override {
        lookForLateReply(Call::Discard);
        return inner_->clearErrors();
    }
    bool purge(std::uint32_t flags) override {
        lookForLateReply(Call::Discard);
        return inner_->purge(flags);
    }

    bool read(std::span<std::uint8_t> into, std::size_t& got) override {
        lookForLateReply(Call::Read);
        const bool ok = inner_->read(into, got);
        if (ok && got < into.size()) {
            windowClosedAt_ = owner_.now();
            watch_ = Watch::NextCall;
        }
        return ok;
    }

    bool write(std::span<const std::uint8_t> bytes, std::size_t& written) override {
        lookForLateReply(Call::Write);
        const bool ok = inner_->write(bytes, written);
        lastWriteEnd_ = owner_.now();
        return ok;
    }

    bool close() override {
        lookForLateReply(Call::Discard);
        return inner_->close();
    }

    std::string openNotes() const override { return inner_->openNotes(); }
    std::optional<std::size_t> queuedInput() override { return inner_->queuedInput(); }
    SystemError lastError() const override { return inner_->lastError(); }

  private:
    enum class Call { Read, Write, Discard };
    // What a short read leaves to look at: right after it, any bytes waiting are late, as nothing
    // new has been asked; at the read after the next request, only more bytes than its answer
    // could have brought since; at any later discarding of input, every byte waiting.
    enum class Watch { None, NextCall, NextRead, Discards };

    void lookForLateReply(Call call) {
        std::size_t couldBeNew = 0;
        switch (watch_) {
            case Watch::None:
                return;
            case Watch::NextCall:
                watch_ = Watch::NextRead;
                break;
            case Watch::NextRead:
                if (call == Call::Write) {
                    return;
                }
                if (call == Call::Read) {
                    watch_ = Watch::Discards;
                    couldBeNew = bytesSinceLastWrite();
                }
                break;
            case Watch::Discards:
                if (call != Call::Discard) {
                    return;
                }
                break;
        }
        const std::optional<std::size_t> waiting = inner_->queuedInput();
        if (!waiting || *waiting <= couldBeNew) {
            return;
        }
        const nanoseconds late = owner_.now() - *windowClosedAt_;
        watch_ = Watch::None;
        owner_.latest_ = std::max(owner_.latest_.value_or(nanoseconds(0)), late);
        if (owner_.note_) {
            owner_.note_("late reply: " + std::to_string(*waiting - couldBeNew) +
                         " bytes came after a read window closed, found " + millisecondsText(late) +
                         " after it");
        }
    }

    // The most bytes an answer to the last request could have brought by now: the line carries
    // ten bits a byte.
    std::size_t bytesSinceLastWrite() {
        if (!lastWriteEnd_ || baud_ == 0) {
            return 0;
        }
        const auto elapsed = std::max(owner_.now() - *lastWriteEnd_, nanoseconds(0));
        return static_cast<std::size_t>(elapsed.count() * baud_ / 10 / 1'000'000'000LL);
    }

    ReplyWindowPlatform& owner_;
    std::unique_ptr<SerialDevice> inner_;
    std::optional<CommTimeouts> found_;
    std::optional<nanoseconds> windowClosedAt_;  // of the last read that came back short
    Watch watch_ = Watch::None;
    std::optional<nanoseconds> lastWriteEnd_;
    std::uint32_t baud_ = 0;
};

ReplyWindowPlatform::ReplyWindowPlatform(Platform& inner, milliseconds extra, Note note)
    : inner_(inner), extra_(extra), note_(std::move(note)) {}

std::unique_ptr<SerialDevice> ReplyWindowPlatform::openSerial(const std::string& name,
                                                              OpenFailure& why) {
    std::unique_ptr<SerialDevice> device = inner_.openSerial(name, why);
    if (!device) {
        return nullptr;
    }
    return std::make_unique<Device>(*this, std::move(device));
}

std::string ReplyWindowPlatform::latencyAdvice() const {
    return latest_ ? latencyAdviceFor(*latest_) : std::string();
}

}  // namespace zq::cli
