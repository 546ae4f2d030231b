#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <span>
#include <string>

#include "serial/forwarding_platform.h"
#include "sim/simulated_line.h"

namespace zq::test {

// What goes wrong with the one call a FaultyPlatform is armed for.
enum class Fault {
    FailCall,     // the k-th device call of any kind (the open included) fails
    GarbageRead,  // the k-th read delivers random bytes in place of what came
    EmptyRead,    // the k-th read swallows what came and delivers nothing
};

// What the armed fault struck, once it has.
struct FaultHit {
    sim::PortEvent::Kind kind;
    int call = 0;            // its place among all device calls, from 1
    bool restoring = false;  // a settings or timeouts call putting the found values back
};

// Sits between the program and the simulated line and spoils exactly one call, counted over
// every device call of a whole operation; the rest pass through unchanged.
class FaultyPlatform : public ForwardingPlatform {
  public:
    explicit FaultyPlatform(sim::SimulatedLine& line) : ForwardingPlatform(line) {}

    void arm(Fault fault, int k) {
        fault_ = fault;
        target_ = k;
        rng_.seed(417u + static_cast<unsigned>(k));
        calls_ = 0;
        reads_ = 0;
        hit.reset();
    }

    int calls() const { return calls_; }
    int reads() const { return reads_; }
    std::optional<FaultHit> hit;
    SystemError error{};  // what the system says of the struck call, when anything

    std::unique_ptr<SerialDevice> openSerial(const std::string& name, OpenFailure& why) override {
        if (strike(sim::PortEvent::Kind::Open)) {
            why = {.kind = OpenFailure::Kind::Other};
            return nullptr;
        }
        return ForwardingPlatform::openSerial(name, why);
    }

  protected:
    std::unique_ptr<SerialDevice> wrap(std::unique_ptr<SerialDevice> inner) override {
        return std::make_unique<Device>(*this, std::move(inner));
    }

  private:
    using Kind = sim::PortEvent::Kind;

    class Device : public SerialDevice {
      public:
        Device(FaultyPlatform& owner, std::unique_ptr<SerialDevice> inner)
            : owner_(owner), inner_(std::move(inner)) {}

        bool getState(LineSettings& out) override {
            return !owner_.strike(Kind::GetState) && inner_->getState(out);
        }
        bool setState(const LineSettings& settings) override {
            const bool restoring = settings.fields == sim::SimulatedLine::initialSettings().fields;
            return !owner_.strike(Kind::SetState, restoring) && inner_->setState(settings);
        }
        bool getTimeouts(CommTimeouts& out) override {
            return !owner_.strike(Kind::GetTimeouts) && inner_->getTimeouts(out);
        }
        bool setTimeouts(const CommTimeouts& timeouts) override {
            const bool restoring = timeouts == sim::SimulatedLine::initialTimeouts();
            return !owner_.strike(Kind::SetTimeouts, restoring) && inner_->setTimeouts(timeouts);
        }
        bool setupQueues(std::uint32_t in, std::uint32_t out) override {
            return !owner_.strike(Kind::SetupQueues) && inner_->setupQueues(in, out);
        }
        bool flush() override { return !owner_.strike(Kind::Flush) && inner_->flush(); }
        bool clearErrors() override {
            return !owner_.strike(Kind::ClearErrors) && inner_->clearErrors();
        }
        bool purge(std::uint32_t flags) override {
            return !owner_.strike(Kind::Purge) && inner_->purge(flags);
        }
        bool read(std::span<std::uint8_t> into, std::size_t& got) override {
            got = 0;
            return !owner_.strike(Kind::Read) && owner_.spoilRead(*inner_, into, got);
        }
        bool write(std::span<const std::uint8_t> bytes, std::size_t& written) override {
            written = 0;
            return !owner_.strike(Kind::Write) && inner_->write(bytes, written);
        }
        bool close() override { return !owner_.strike(Kind::Close) && inner_->close(); }
        SystemError lastError() const override {
            return owner_.hit && owner_.error ? owner_.error : inner_->lastError();
        }

      private:
        FaultyPlatform& owner_;
        std::unique_ptr<SerialDevice> inner_;
    };

    // Counts the call; true when it is the one to fail.
    bool strike(Kind kind, bool restoring = false) {
        ++calls_;
        if (kind == Kind::Read) {
            ++reads_;
        }
        if (fault_ != Fault::FailCall || calls_ != target_) {
            return false;
        }
        hit = FaultHit{kind, calls_, restoring};
        return true;
    }

    bool spoilRead(SerialDevice& inner, std::span<std::uint8_t> into, std::size_t& got) {
        if (!inner.read(into, got)) {
            return false;
        }
        if (fault_ == Fault::FailCall || reads_ != target_) {
            return true;
        }
        hit = FaultHit{Kind::Read, calls_, false};
        if (fault_ == Fault::EmptyRead) {
            got = 0;
            return true;
        }
        if (got == 0 && !into.empty()) {
            got = std::uniform_int_distribution<std::size_t>(1, into.size())(rng_);
        }
        for (std::size_t i = 0; i < got; ++i) {
            into[i] = static_cast<std::uint8_t>(rng_());
        }
        return true;
    }

    Fault fault_ = Fault::FailCall;
    int target_ = 0;
    int calls_ = 0;
    int reads_ = 0;
    std::mt19937 rng_{417};
};

}  // namespace zq::test
