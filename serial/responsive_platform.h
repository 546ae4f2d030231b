#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "serial/platform.h"

namespace zq {

// Lets a window answer its desktop while an operation holds its thread: `whileWaiting` runs
// after each read and, in slices, through each pause of 100 ms or more (the 5 s before the
// status query above all). A window hands in a call that paints and takes window-manager
// events but leaves user input queued. Pauses keep their length: the slices sleep until the
// pause's own deadline. The short protocol pauses (1 ms, 5 ms) are left alone.
class ResponsivePlatform : public Platform {
  public:
    static constexpr std::chrono::milliseconds Slice{50};
    static constexpr std::chrono::milliseconds ShortestAnsweredPause{100};

    ResponsivePlatform(Platform& inner, std::function<void()> whileWaiting)
        : inner_(inner), whileWaiting_(std::move(whileWaiting)) {}

    std::unique_ptr<SerialDevice> openSerial(const std::string& name, OpenFailure& why) override;
    void sleep(std::chrono::milliseconds duration) override;
    void beginTimerResolution() override { inner_.beginTimerResolution(); }
    void endTimerResolution() override { inner_.endTimerResolution(); }
    std::chrono::nanoseconds now() override { return inner_.now(); }

  private:
    class Device;
    void answer();

    Platform& inner_;
    std::function<void()> whileWaiting_;
};

}  // namespace zq
