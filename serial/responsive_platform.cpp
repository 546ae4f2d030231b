#include "serial/responsive_platform.h"

#include <algorithm>
#include <utility>

#include "serial/interruption.h"

namespace zq {

class ResponsivePlatform::Device : public SerialDevice {
  public:
    Device(ResponsivePlatform& owner, std::unique_ptr<SerialDevice> inner)
        : owner_(owner), inner_(std::move(inner)) {}

    bool getState(LineSettings& out) override { return inner_->getState(out); }
    bool setState(const LineSettings& settings) override { return inner_->setState(settings); }
    bool getTimeouts(CommTimeouts& out) override { return inner_->getTimeouts(out); }
    bool setTimeouts(const CommTimeouts& timeouts) override {
        return inner_->setTimeouts(timeouts);
    }
    bool setupQueues(std::uint32_t inputBytes, std::uint32_t outputBytes) override {
        return inner_->setupQueues(inputBytes, outputBytes);
    }
    bool flush() override { return inner_->flush(); }
    bool clearErrors() override { return inner_->clearErrors(); }
    bool purge(std::uint32_t flags) override { return inner_->purge(flags); }
    // Once the read's own wait is over, so its timeouts count from the call as always.
    bool read(std::span<std::uint8_t> into, std::size_t& got) override {
        const bool ok = inner_->read(into, got);
        owner_.answer();
        return ok;
    }
    bool write(std::span<const std::uint8_t> bytes, std::size_t& written) override {
        return inner_->write(bytes, written);
    }
    bool close() override { return inner_->close(); }
    std::string openNotes() const override { return inner_->openNotes(); }
    std::optional<std::size_t> queuedInput() override { return inner_->queuedInput(); }
    SystemError lastError() const override { return inner_->lastError(); }

  private:
    ResponsivePlatform& owner_;
    std::unique_ptr<SerialDevice> inner_;
};

std::unique_ptr<SerialDevice> ResponsivePlatform::openSerial(const std::string& name,
                                                             OpenFailure& why) {
    std::unique_ptr<SerialDevice> device = inner_.openSerial(name, why);
    if (!device) {
        return nullptr;
    }
    return std::make_unique<Device>(*this, std::move(device));
}

void ResponsivePlatform::sleep(std::chrono::milliseconds duration) {
    if (duration < ShortestAnsweredPause || !whileWaiting_) {
        inner_.sleep(duration);
        return;
    }
    using std::chrono::milliseconds;
    const std::chrono::nanoseconds deadline = inner_.now() + duration;
    for (;;) {
        answer();
        const auto left = std::chrono::ceil<milliseconds>(deadline - inner_.now());
        if (left <= milliseconds::zero() || interruption::stopsWaits()) {
            return;
        }
        inner_.sleep(std::min(left, Slice));
    }
}

void ResponsivePlatform::answer() {
    if (whileWaiting_) {
        whileWaiting_();
    }
}

}  // namespace zq
