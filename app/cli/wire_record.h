#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "serial/platform.h"

namespace zq::cli {

// Wraps one board's platform and remembers what the last exchange on the wire looked like, so
// that a failure can say why in one line: what was sent last, what came back and when (the
// system's reason for a failing call is the FailureRecorder's). It can also replay a handshake it
// recorded, so that an operation chosen after a probe finds the same answer without a second
// handshake on the wire. One recorder serves one port on one thread.
class WireRecord : public Platform {
  public:
    explicit WireRecord(Platform& inner) : inner_(inner) {}

    std::unique_ptr<SerialDevice> openSerial(const std::string& name, OpenFailure& why) override;
    void sleep(std::chrono::milliseconds duration) override;
    void beginTimerResolution() override { inner_.beginTimerResolution(); }
    void endTimerResolution() override { inner_.endTimerResolution(); }
    std::chrono::nanoseconds now() override { return inner_.now(); }

    // The last write call's bytes, and what came back after it.
    const std::vector<std::uint8_t>& lastSent() const { return lastSent_; }
    const std::vector<std::uint8_t>& repliedSince() const { return replied_; }
    // From the end of the last write to the arrival of the reply's first and last byte.
    std::optional<std::chrono::nanoseconds> firstReplyAfter() const { return firstReplyAfter_; }
    std::optional<std::chrono::nanoseconds> lastReplyAfter() const { return lastReplyAfter_; }
    // Bytes the last write call was asked to send, and how many left.
    std::size_t lastWriteAsked() const { return lastWriteAsked_; }
    std::size_t lastWriteDone() const { return lastWriteDone_; }
    // The last write call failed rather than running out of time.
    bool lastWriteFailed() const { return lastWriteFailed_; }
    // The status value the board reported after programming, when it did.
    std::optional<std::uint16_t> statusValue() const { return status_; }
    // An Ack went out since this was last reset: the board answered the handshake.
    bool ackSent() const { return ackSent_; }
    void resetAckSent() { ackSent_ = false; }

    // Calls the given function with the time left, about ten times a second, while sleeping.
    void watchSleeps(std::function<void(std::chrono::milliseconds left)> watcher) {
        sleepWatcher_ = std::move(watcher);
    }

    // Recording remembers every read and write until stopped; an armed replay then answers the
    // same calls, in the same order, from memory, and passes through from the first call that
    // differs or the first one after the script.
    void startRecording();
    void stopRecording() { recording_ = false; }
    void armReplay();
    bool replaying() const { return replayAt_.has_value(); }

  private:
    class Device;
    struct Call {
        bool write = false;
        std::vector<std::uint8_t> bytes;  // written, or read
        bool ok = true;
    };

    void noteWrite(std::span<const std::uint8_t> bytes, std::size_t written, bool ok);
    void noteRead(std::span<const std::uint8_t> got, bool ok);
    // The recorded call to answer this one with, when replay is still on.
    const Call* replayed(bool write, std::span<const std::uint8_t> bytes);

    Platform& inner_;
    std::vector<std::uint8_t> lastSent_;
    std::vector<std::uint8_t> replied_;
    std::chrono::nanoseconds lastWriteEnd_{0};
    std::optional<std::chrono::nanoseconds> firstReplyAfter_;
    std::optional<std::chrono::nanoseconds> lastReplyAfter_;
    std::size_t lastWriteAsked_ = 0;
    std::size_t lastWriteDone_ = 0;
    bool lastWriteFailed_ = false;
    std::optional<std::uint16_t> status_;
    bool ackSent_ = false;
    std::function<void(std::chrono::milliseconds)> sleepWatcher_;
    bool recording_ = false;
    std::vector<Call> script_;
    std::optional<std::size_t> replayAt_;
};

}  // namespace zq::cli
