#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "serial/forwarding_platform.h"

namespace zq {

// Lets a window answer its desktop while an operation holds its thread: `whileWaiting` runs
// after each read and, in slices, through each pause of 100 ms or more (the 5 s before the
// status query above all). A window hands in a call that paints and takes window-manager
// events but leaves user input queued. Pauses keep their length: the slices sleep until the
// pause's own deadline. The short protocol pauses (1 ms, 5 ms) are left alone.
class ResponsivePlatform : public ForwardingPlatform {
  public:
    static constexpr std::chrono::milliseconds Slice{50};
    static constexpr std::chrono::milliseconds ShortestAnsweredPause{100};

    ResponsivePlatform(Platform& inner, std::function<void()> whileWaiting)
        : ForwardingPlatform(inner), whileWaiting_(std::move(whileWaiting)) {}

    void sleep(std::chrono::milliseconds duration) override;

  protected:
    std::unique_ptr<SerialDevice> wrap(std::unique_ptr<SerialDevice> device) override;

  private:
    class Device;
    void answer();

    std::function<void()> whileWaiting_;
};

}  // namespace zq
