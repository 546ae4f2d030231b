#include "app/cli/wire_record.h"

#include "serial/interruption.h"

#include <algorithm>
#include <span>

#include "protocol/command_packet.h"

namespace zq::cli {

namespace {

using std::chrono::milliseconds;

constexpr milliseconds WatchEvery{100};

bool isAck(std::span<const std::uint8_t> bytes) {
    return std::ranges::equal(bytes, ackPacket().bytes);
}

}  // namespace

class WireRecord::Device : public SerialDevice {
  public:
    Device(WireRecord& owner, std::unique_ptr<SerialDevice> inner)
        : owner_(owner), inner_(std::move(inner)) {}

    bool getState(LineSettings& out) override { return inner_->getState(out); }
    bool setState(const LineSettings& s) override { return inner_->setState(s); }
    bool getTimeouts(CommTimeouts& out) override { return inner_->getTimeouts(out); }
    bool setTimeouts(const CommTimeouts& t) override { return inner_->setTimeouts(t); }
    bool setupQueues(std::uint32_t in, std::uint32_t out) override {
        return inner_->setupQueues(in, out);
    }
    bool flush() override { return inner_->flush(); }
    bool clearErrors() override { return inner_->clearErrors(); }
    bool purge(std::uint32_t flags) override { return inner_->purge(flags); }
    bool close() override { return inner_->close(); }

    bool read(std::span<std::uint8_t> into, std::size_t& got) override {
        if (const Call* call = owner_.replayed(false, {})) {
            got = std::min(into.size(), call->bytes.size());
            std::copy_n(call->bytes.begin(), got, into.begin());
            return call->ok;
        }
        got = 0;
        const bool ok = inner_->read(into, got);
        owner_.noteRead(into.first(got), ok);
        return ok;
    }

    bool write(std::span<const std::uint8_t> bytes, std::size_t& written) override {
        if (const Call* call = owner_.replayed(true, bytes)) {
            written = call->ok ? bytes.size() : 0;
            return call->ok;
        }
        written = 0;
        const bool ok = inner_->write(bytes, written);
        owner_.noteWrite(bytes, written, ok);
        return ok;
    }

    SystemError lastError() const override { return inner_->lastError(); }
    std::string openNotes() const override { return inner_->openNotes(); }
    std::optional<std::size_t> queuedInput() override { return inner_->queuedInput(); }

  private:
    WireRecord& owner_;
    std::unique_ptr<SerialDevice> inner_;
};

std::unique_ptr<SerialDevice> WireRecord::openSerial(const std::string& name, OpenFailure& why) {
    std::unique_ptr<SerialDevice> device = inner_.openSerial(name, why);
    if (!device) {
        return nullptr;
    }
    return std::make_unique<Device>(*this, std::move(device));
}

void WireRecord::sleep(milliseconds duration) {
    if (replaying()) {
        return;  // the recorded handshake's pauses were spent when it was recorded
    }
    if (!sleepWatcher_ || duration < 2 * WatchEvery) {
        inner_.sleep(duration);
        return;
    }
    // Slept to an absolute end, so the slices add nothing to the pause.
    const std::chrono::nanoseconds end = inner_.now() + duration;
    for (;;) {
        const auto left = std::chrono::duration_cast<milliseconds>(end - inner_.now());
        if (left <= milliseconds(0)) {
            return;
        }
        sleepWatcher_(left);
        inner_.sleep(std::min(left, WatchEvery));
        // A signal cut the slice short: the whole pause ends with it.
        if (interruption::stopsWaits()) {
            return;
        }
    }
}

void WireRecord::noteWrite(std::span<const std::uint8_t> bytes, std::size_t written, bool ok) {
    if (recording_) {
        script_.push_back({.write = true, .bytes = {bytes.begin(), bytes.end()}, .ok = ok});
    }
    lastSent_.assign(bytes.begin(), bytes.end());
    lastWriteAsked_ = bytes.size();
    lastWriteDone_ = written;
    lastWriteFailed_ = !ok;
    replied_.clear();
    firstReplyAfter_.reset();
    lastReplyAfter_.reset();
    lastWriteEnd_ = inner_.now();
    if (ok && isAck(bytes)) {
        ackSent_ = true;
    }
}

void WireRecord::noteRead(std::span<const std::uint8_t> got, bool ok) {
    if (recording_) {
        script_.push_back({.write = false, .bytes = {got.begin(), got.end()}, .ok = ok});
    }
    if (got.empty()) {
        return;
    }
    const std::chrono::nanoseconds after = inner_.now() - lastWriteEnd_;
    if (!firstReplyAfter_) {
        firstReplyAfter_ = after;
    }
    lastReplyAfter_ = after;
    replied_.insert(replied_.end(), got.begin(), got.end());
    // The status follows the Query's Ack and the Data reply: two bytes, low byte first.
    if (lastSent_.size() == 6 && lastSent_[1] == IdQuery && replied_.size() >= 14 &&
        replied_[7] == IdData) {
        status_ = static_cast<std::uint16_t>(replied_[12] | (replied_[13] << 8));
    }
}

void WireRecord::startRecording() {
    script_.clear();
    replayAt_.reset();
    recording_ = true;
}

void WireRecord::armReplay() {
    recording_ = false;
    if (!script_.empty()) {
        replayAt_ = 0;
    }
}

const WireRecord::Call* WireRecord::replayed(bool write, std::span<const std::uint8_t> bytes) {
    if (!replayAt_) {
        return nullptr;
    }
    // Past the script, the pauses after its last call are still its own; the next call is not.
    if (*replayAt_ == script_.size()) {
        replayAt_.reset();
        return nullptr;
    }
    const Call& call = script_[*replayAt_];
    if (call.write != write || (write && !std::ranges::equal(call.bytes, bytes))) {
        replayAt_.reset();
        return nullptr;
    }
    ++*replayAt_;
    return &call;
}

}  // namespace zq::cli
