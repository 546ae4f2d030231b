#include "serial/latency_allowance.h"

#include <algorithm>
#include <optional>

#include "serial/timeout_rules.h"

namespace zq {

namespace {

std::uint32_t widened(std::uint32_t value, std::chrono::milliseconds extra) {
    const auto room = static_cast<long long>(TimeoutMaxDword - 1) - value;
    return value +
           static_cast<std::uint32_t>(std::min<long long>(extra.count(), std::max(room, 0LL)));
}

}  // namespace

CommTimeouts widenReadWindow(const CommTimeouts& timeouts, std::chrono::milliseconds extra) {
    const ReadTimeoutRule rule = ReadTimeoutRule::forRead(timeouts, 1);
    // A read that returns at once, or one that waits for ever, has no window to widen.
    if (extra.count() <= 0 || !rule.total || rule.returnAtOnce) {
        return timeouts;
    }
    CommTimeouts wider = timeouts;
    wider.readTotalTimeoutConstant = widened(timeouts.readTotalTimeoutConstant, extra);
    if (timeouts.readIntervalTimeout != 0) {
        wider.readIntervalTimeout = widened(timeouts.readIntervalTimeout, extra);
    }
    return wider;
}

class LatencyAllowance::Device : public ForwardingDevice {
  public:
    Device(std::unique_ptr<SerialDevice> inner, std::chrono::milliseconds extra)
        : ForwardingDevice(std::move(inner)), extra_(extra) {}

    bool getTimeouts(CommTimeouts& out) override {
        const bool ok = inner().getTimeouts(out);
        if (ok && !found_) {
            found_ = out;
        }
        return ok;
    }
    bool setTimeouts(const CommTimeouts& timeouts) override {
        // The timeouts found on the port go back untouched.
        if (found_ && timeouts == *found_) {
            return inner().setTimeouts(timeouts);
        }
        return inner().setTimeouts(widenReadWindow(timeouts, extra_));
    }

  private:
    std::chrono::milliseconds extra_;
    std::optional<CommTimeouts> found_;
};

std::unique_ptr<SerialDevice> LatencyAllowance::wrap(std::unique_ptr<SerialDevice> device) {
    return std::make_unique<Device>(std::move(device), extra_);
}

}  // namespace zq
