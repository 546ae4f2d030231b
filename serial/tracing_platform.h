#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "serial/forwarding_platform.h"

namespace zq {

// Receives each finished trace line, without its line break. Names in it (ports, devices) are as
// given: a sink that writes to a terminal makes them printable.
using TraceSink = std::function<void(std::string_view line)>;

// Wraps a platform so that everything that crosses the wire, and the port events that explain
// it, is reported as it happens, stamped with the milliseconds since the trace began. The
// phases run unchanged on top of it: the trace shows exactly what the window would have done.
class TracingPlatform : public ForwardingPlatform {
  public:
    TracingPlatform(Platform& inner, TraceSink sink);

    std::unique_ptr<SerialDevice> openSerial(const std::string& name, OpenFailure& why) override;
    void sleep(std::chrono::milliseconds duration) override;

    // A line of the front end's own, stamped like the rest.
    void note(std::string_view text) { put(now(), text); }

  protected:
    std::unique_ptr<SerialDevice> wrap(std::unique_ptr<SerialDevice> device) override;

  private:
    class Device;

    void put(std::chrono::nanoseconds at, std::string_view text);

    TraceSink sink_;
    std::chrono::nanoseconds start_;
};

}  // namespace zq
