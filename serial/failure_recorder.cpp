#include "serial/failure_recorder.h"

#include <utility>

namespace zq {

namespace {

thread_local int ignoring = 0;

}  // namespace

IgnoredResults::IgnoredResults() {
    ++ignoring;
}

IgnoredResults::~IgnoredResults() {
    --ignoring;
}

class FailureRecorder::Device : public SerialDevice {
  public:
    Device(FailureRecorder& owner, std::unique_ptr<SerialDevice> inner)
        : owner_(owner), inner_(std::move(inner)) {}

    bool getState(LineSettings& out) override {
        return check("read the line settings", inner_->getState(out));
    }
    bool setState(const LineSettings& settings) override {
        return check("apply the line settings", inner_->setState(settings));
    }
    bool getTimeouts(CommTimeouts& out) override {
        return check("read the timeouts", inner_->getTimeouts(out));
    }
    bool setTimeouts(const CommTimeouts& timeouts) override {
        return check("set the timeouts", inner_->setTimeouts(timeouts));
    }
    bool setupQueues(std::uint32_t inputBytes, std::uint32_t outputBytes) override {
        return check("set the queue sizes", inner_->setupQueues(inputBytes, outputBytes));
    }
    bool flush() override { return check("flush", inner_->flush()); }
    bool clearErrors() override { return check("clear the line errors", inner_->clearErrors()); }
    bool purge(std::uint32_t flags) override { return check("purge", inner_->purge(flags)); }
    bool read(std::span<std::uint8_t> into, std::size_t& got) override {
        return check("read", inner_->read(into, got));
    }
    bool write(std::span<const std::uint8_t> bytes, std::size_t& written) override {
        return check("write", inner_->write(bytes, written));
    }
    bool close() override { return check("close", inner_->close()); }
    SystemError lastError() const override { return inner_->lastError(); }
    std::string openNotes() const override { return inner_->openNotes(); }
    std::optional<std::size_t> queuedInput() override { return inner_->queuedInput(); }

  private:
    bool check(std::string_view call, bool ok) {
        if (!ok) {
            owner_.note(call, *inner_);
        }
        return ok;
    }

    FailureRecorder& owner_;
    std::unique_ptr<SerialDevice> inner_;
};

std::unique_ptr<SerialDevice> FailureRecorder::openSerial(const std::string& name,
                                                          OpenFailure& why) {
    // A new device: whatever the old one said is no longer about this port.
    first_ = {};
    std::unique_ptr<SerialDevice> device = inner_.openSerial(name, why);
    if (!device) {
        return nullptr;
    }
    return std::make_unique<Device>(*this, std::move(device));
}

void FailureRecorder::note(std::string_view call, const SerialDevice& device) {
    if (first_.error || ignoring > 0) {
        return;
    }
    SystemError error = device.lastError();
    if (error && !error.interrupted) {
        first_ = RecordedFailure{call, std::move(error)};
    }
}

RecordedFailure FailureRecorder::take() {
    return std::exchange(first_, RecordedFailure{});
}

std::string describeFailure(const RecordedFailure& failure) {
    const SystemError& e = failure.error;
    if (!e) {
        return {};
    }
    std::string text = std::string(failure.call) + " failed: " + e.text;
    if (e.code != 0) {
        text += " (error " + std::to_string(e.code) + ")";
    }
    if (e.deviceGone) {
        text += "; the device has gone: unplugged, switched off, or the line hung up";
    }
    return text;
}

}  // namespace zq
