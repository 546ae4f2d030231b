#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "serial/platform.h"

namespace zq {

// The first port call that failed since the front end last looked, with what the system said.
struct RecordedFailure {
    std::string_view call;  // "read", "write", "apply the line settings", ...
    SystemError error;
};

// Wraps a platform so that the system's reason for a failing port call is kept after the phases
// have handed the port back, for the line or detail shown with the box the failure leads to.
// Only the first failure is kept until it is taken: the calls that fail after it (restoring the
// settings of a device that has gone) are its consequences, not news.
class FailureRecorder : public Platform {
  public:
    explicit FailureRecorder(Platform& inner) : inner_(inner) {}

    std::unique_ptr<SerialDevice> openSerial(const std::string& name, OpenFailure& why) override;
    void sleep(std::chrono::milliseconds duration) override { inner_.sleep(duration); }
    void beginTimerResolution() override { inner_.beginTimerResolution(); }
    void endTimerResolution() override { inner_.endTimerResolution(); }
    std::chrono::nanoseconds now() override { return inner_.now(); }

    // The failure kept, cleared; empty when none with a known reason came. Failures that only
    // mean the program was interrupted are not kept.
    RecordedFailure take();

  private:
    class Device;
    void note(std::string_view call, const SerialDevice& device);

    Platform& inner_;
    RecordedFailure first_{};
};

// While one stands, the port calls its thread makes are ones whose result nobody acts on (a
// purge, putting back the settings found at open): a recorder keeps none of their failures, so a
// box never gives the reason of a call that did not lead to it.
class IgnoredResults {
  public:
    IgnoredResults();
    ~IgnoredResults();
    IgnoredResults(const IgnoredResults&) = delete;
    IgnoredResults& operator=(const IgnoredResults&) = delete;
};

// "read failed: Input/output error (error 5); the device has gone: unplugged, or the line hung
// up". Empty for an empty record.
std::string describeFailure(const RecordedFailure& failure);

}  // namespace zq
