#pragma once

#include <chrono>
#include <memory>

#include "serial/forwarding_platform.h"

namespace zq {

// Widens every reply window by `extra`, for USB serial adapters that hold small replies back
// (or send one in parts) and cannot be told not to: each read's total timeout and the gap allowed
// between the bytes of one reply grow by `extra`. The timeouts found on the port are put back
// exactly as they were.
class LatencyAllowance : public ForwardingPlatform {
  public:
    LatencyAllowance(Platform& inner, std::chrono::milliseconds extra)
        : ForwardingPlatform(inner), extra_(extra) {}

  protected:
    std::unique_ptr<SerialDevice> wrap(std::unique_ptr<SerialDevice> device) override;

  private:
    class Device;
    std::chrono::milliseconds extra_;
};

// The timeouts with `extra` added to the total read limit and to the gap allowed between bytes,
// where the timeouts have them.
CommTimeouts widenReadWindow(const CommTimeouts& timeouts, std::chrono::milliseconds extra);

}  // namespace zq
