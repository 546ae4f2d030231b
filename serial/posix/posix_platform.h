#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "serial/platform.h"

namespace zq {

class PosixPlatform final : public Platform {
  public:
    std::unique_ptr<SerialDevice> openSerial(const std::string& name, OpenFailure& why) override;
    void sleep(std::chrono::milliseconds duration) override;
    // Linux timers are already fine-grained; the calls are only counted so their pairing can be
    // checked.
    void beginTimerResolution() override { ++timerResolutionBegins_; }
    void endTimerResolution() override { ++timerResolutionEnds_; }
    std::chrono::nanoseconds now() override;

    int timerResolutionBegins() const { return timerResolutionBegins_; }
    int timerResolutionEnds() const { return timerResolutionEnds_; }

  private:
    int timerResolutionBegins_ = 0;
    int timerResolutionEnds_ = 0;
};

}  // namespace zq
