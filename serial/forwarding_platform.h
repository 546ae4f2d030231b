#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "serial/platform.h"

namespace zq {

// A device that passes every call on to the one it wraps: a wrapper derives from it and writes
// only the calls it changes.
class ForwardingDevice : public SerialDevice {
  public:
    explicit ForwardingDevice(std::unique_ptr<SerialDevice> inner) : inner_(std::move(inner)) {}

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
    bool read(std::span<std::uint8_t> into, std::size_t& got) override {
        return inner_->read(into, got);
    }
    bool write(std::span<const std::uint8_t> bytes, std::size_t& written) override {
        return inner_->write(bytes, written);
    }
    bool close() override { return inner_->close(); }
    std::string openNotes() const override { return inner_->openNotes(); }
    std::optional<std::size_t> queuedInput() override { return inner_->queuedInput(); }
    SystemError lastError() const override { return inner_->lastError(); }

  protected:
    SerialDevice& inner() { return *inner_; }

  private:
    std::unique_ptr<SerialDevice> inner_;
};

// A platform that passes every call on to the one it wraps; `wrap` is where a wrapper puts its
// own device around each one opened.
class ForwardingPlatform : public Platform {
  public:
    explicit ForwardingPlatform(Platform& inner) : inner_(inner) {}

    std::unique_ptr<SerialDevice> openSerial(const std::string& name, OpenFailure& why) override {
        std::unique_ptr<SerialDevice> device = inner_.openSerial(name, why);
        return device ? wrap(std::move(device)) : nullptr;
    }
    void sleep(std::chrono::milliseconds duration) override { inner_.sleep(duration); }
    void beginTimerResolution() override { inner_.beginTimerResolution(); }
    void endTimerResolution() override { inner_.endTimerResolution(); }
    std::chrono::nanoseconds now() override { return inner_.now(); }
    std::chrono::system_clock::time_point wallClock() override { return inner_.wallClock(); }

  protected:
    virtual std::unique_ptr<SerialDevice> wrap(std::unique_ptr<SerialDevice> device) {
        return device;
    }
    Platform& inner() { return inner_; }

  private:
    Platform& inner_;
};

}  // namespace zq
