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
    // Linux timers are already fine-grained.
    void beginTimerResolution() override {}
    void endTimerResolution() override {}
    std::chrono::nanoseconds now() override;
    std::chrono::system_clock::time_point wallClock() override {
        return std::chrono::system_clock::now();
    }
};

}  // namespace zq
