#include "serial/responsive_platform.h"

#include <algorithm>
#include <utility>

#include "serial/interruption.h"

namespace zq {

class ResponsivePlatform::Device : public ForwardingDevice {
  public:
    Device(ResponsivePlatform& owner, std::unique_ptr<SerialDevice> inner)
        : ForwardingDevice(std::move(inner)), owner_(owner) {}

    // Once the read's own wait is over, so its timeouts count from the call as always.
    bool read(std::span<std::uint8_t> into, std::size_t& got) override {
        const bool ok = inner().read(into, got);
        owner_.answer();
        return ok;
    }

  private:
    ResponsivePlatform& owner_;
};

std::unique_ptr<SerialDevice> ResponsivePlatform::wrap(std::unique_ptr<SerialDevice> device) {
    return std::make_unique<Device>(*this, std::move(device));
}

void ResponsivePlatform::sleep(std::chrono::milliseconds duration) {
    if (duration < ShortestAnsweredPause || !whileWaiting_) {
        inner().sleep(duration);
        return;
    }
    using std::chrono::milliseconds;
    const std::chrono::nanoseconds deadline = now() + duration;
    for (;;) {
        answer();
        const auto left = std::chrono::ceil<milliseconds>(deadline - now());
        if (left <= milliseconds::zero() || interruption::stopsWaits()) {
            return;
        }
        inner().sleep(std::min(left, Slice));
    }
}

void ResponsivePlatform::answer() {
    if (whileWaiting_) {
        whileWaiting_();
    }
}

}  // namespace zq
