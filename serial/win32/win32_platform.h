#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "serial/platform.h"

namespace zq {

// Lets a console control event end the platform's sleeps at once: call it before installing the
// handler that raises the interruption.
bool armWin32Interruption();

class Win32Platform final : public Platform {
  public:
    std::unique_ptr<SerialDevice> openSerial(const std::string& name, OpenFailure& why) override;
    void sleep(std::chrono::milliseconds duration) override;
    void beginTimerResolution() override;
    void endTimerResolution() override;
    std::chrono::nanoseconds now() override;
    std::chrono::system_clock::time_point wallClock() override {
        return std::chrono::system_clock::now();
    }
};

}  // namespace zq
