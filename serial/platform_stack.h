#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string_view>

#include "serial/latency_allowance.h"
#include "serial/responsive_platform.h"
#include "serial/tracing_platform.h"

namespace zq {

// What a front end wants of the platform beyond the system's own calls; each left empty is not
// stacked at all.
struct StackOptions {
    TraceSink trace{};                     // every port call and long pause, as it happens
    std::chrono::milliseconds latency{0};  // added to every reply window
    std::function<void()> whileWaiting{};  // run after each read and through long pauses
};

// The system's platform with the wrappers a front end asked for, stacked the one way every front
// end uses: the trace next to the system, so it shows the timeouts the port really gets; the
// latency allowance above it; what runs while waiting on top, so it sees each pause whole.
class PlatformStack {
  public:
    PlatformStack(Platform& system, StackOptions options);
    PlatformStack(const PlatformStack&) = delete;
    PlatformStack& operator=(const PlatformStack&) = delete;

    // What the operations run on.
    Platform& top() { return *top_; }
    // A line of the front end's own in the trace, stamped like the rest; nothing without one.
    void note(std::string_view text);

  private:
    std::optional<TracingPlatform> tracing_;
    std::optional<LatencyAllowance> latency_;
    std::optional<ResponsivePlatform> responsive_;
    Platform* top_;
};

}  // namespace zq
