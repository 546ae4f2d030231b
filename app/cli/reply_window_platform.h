#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "serial/platform.h"

namespace zq::cli {

// Sits between the phases and the port for two things a USB serial adapter calls for.
//
// Widening: with `extra` above zero, every read's total timeout the phases set is `extra` longer,
// for adapters that hold small replies back and cannot be told not to. The timeouts found on the
// port are put back exactly as they were.
//
// Late replies: when a read's window closes short and the next call on the port finds bytes
// waiting, the reply came after its window; `note` hears of it with the delay, and
// latencyAdvice() then has the line to show after a failure.
class ReplyWindowPlatform : public Platform {
  public:
    using Note = std::function<void(std::string_view line)>;

    ReplyWindowPlatform(Platform& inner, std::chrono::milliseconds extra, Note note = {});

    std::unique_ptr<SerialDevice> openSerial(const std::string& name, OpenFailure& why) override;
    void sleep(std::chrono::milliseconds duration) override { inner_.sleep(duration); }
    void beginTimerResolution() override { inner_.beginTimerResolution(); }
    void endTimerResolution() override { inner_.endTimerResolution(); }
    std::chrono::nanoseconds now() override { return inner_.now(); }

    // The longest time by which a late reply was found after its window closed; nothing when
    // every reply came in time (or the system cannot tell).
    std::optional<std::chrono::nanoseconds> latestReply() const { return latest_; }
    // Empty unless a reply came late.
    std::string latencyAdvice() const;

  private:
    class Device;

    Platform& inner_;
    std::chrono::milliseconds extra_;
    Note note_;
    std::optional<std::chrono::nanoseconds> latest_;
};

// The advice for replies found `late` after their window: the --latency to try, and the
// adapter's own setting that removes the cause.
std::string latencyAdviceFor(std::chrono::nanoseconds late);

// The timeouts with `extra` added to the total read limit, where there is one.
CommTimeouts widenReadWindow(const CommTimeouts& timeouts, std::chrono::milliseconds extra);

}  // namespace zq::cli
