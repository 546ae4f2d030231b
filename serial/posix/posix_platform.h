#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "serial/platform.h"

namespace zq {

// The device a port name stands for: COM1..COM4 are the first four on-board ports, anything
// else is taken as a path (the command line and the tests name pseudo-terminals this way).
std::string posixDevicePath(std::string_view name);

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
