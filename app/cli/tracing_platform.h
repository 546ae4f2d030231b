#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "serial/platform.h"

namespace zq::cli {

// Receives each finished trace line, without its line break.
using TraceSink = std::function<void(std::string_view line)>;

// Wraps a platform so that everything that crosses the wire, and the port events that explain
// it, is reported as it happens, stamped with the milliseconds since the trace began. The
// phases run unchanged on top of it: the trace shows exactly what the window would have done.
class TracingPlatform : public Platform {
  public:
    TracingPlatform(Platform& inner, TraceSink sink);

    std::unique_ptr<SerialDevice> openSerial(const std::string& name, OpenFailure& why) override;
    void sleep(std::chrono::milliseconds duration) override;
    void beginTimerResolution() override { inner_.beginTimerResolution(); }
    void endTimerResolution() override { inner_.endTimerResolution(); }
    std::chrono::nanoseconds now() override { return inner_.now(); }

    // A line of the front end's own, stamped like the rest.
    void note(std::string_view text) { emit(inner_.now(), text); }

  private:
    class Device;

    void emit(std::chrono::nanoseconds at, std::string_view text);

    Platform& inner_;
    TraceSink sink_;
    std::chrono::nanoseconds start_;
};

// Bytes as the trace shows them: up to eight in full ("AA 0D 00 00 00 00"); a longer run as its
// size and its first eight ("512 bytes  02 1F 00 00 00 00 00 00 ...").
std::string traceBytes(std::span<const std::uint8_t> bytes);

}  // namespace zq::cli
