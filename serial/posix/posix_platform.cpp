#include "serial/posix/posix_platform.h"

// termios2 and the arbitrary-rate ioctls come from the kernel's own headers, which redefine what
// <termios.h> declares: this file must never include <termios.h>.
#include <asm/termbits.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <system_error>
#include <vector>

#include "serial/interruption.h"
#include "serial/port_names.h"
#include "serial/posix/interrupt_pipe.h"
#include "serial/posix/low_latency.h"
#include "serial/posix/open_failure.h"
#include "serial/posix/termios_mapping.h"
#include "serial/timeout_rules.h"

namespace zq {

using namespace posix;

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::microseconds;
using std::chrono::milliseconds;
using std::chrono::nanoseconds;

timespec toTimespec(nanoseconds duration) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(duration);
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(seconds.count());
    ts.tv_nsec = static_cast<long>((duration - seconds).count());
    return ts;
}

// While a shield stands the wake pipe stays readable from the first signal on, so waits look at
// the signal count in slices this long instead; a deadline is still computed once.
constexpr milliseconds ShieldedSlice{20};
const timespec NoTime{};

// The system's word for a failed call; errors that mean the device itself went away are marked,
// so that the user hears "unplugged" rather than "input/output error".
SystemError systemError(int code) {
    SystemError error{code, std::generic_category().message(code)};
    error.deviceGone = code == EIO || code == ENXIO || code == ENODEV;
    return error;
}

SystemError hungUp() {
    SystemError error{0, "the line hung up"};
    error.deviceGone = true;
    return error;
}

SystemError interruptedError() {
    SystemError error{EINTR, "interrupted"};
    error.interrupted = true;
    return error;
}

// Waits until `until` (or for ever) for the device in `watch`, if any, or the first signal. The
// wake pipe is watched only when no shield stands; a shielded wait wakes every slice to count.
// Returns the ppoll result, with errno as ppoll left it.
int pollOrSignal(pollfd* device, std::optional<Clock::time_point> until) {
    pollfd fds[2];
    nfds_t n = 0;
    if (device != nullptr) {
        fds[n++] = *device;
    }
    const bool shield = interruption::shielded();
    const int wakeFd = interruptPipeFd();
    if (!shield && wakeFd >= 0) {
        fds[n++] = pollfd{wakeFd, POLLIN, 0};
    }
    std::optional<nanoseconds> left;
    if (until) {
        left = std::max<nanoseconds>(*until - Clock::now(), nanoseconds(0));
    }
    if (shield) {
        left = left ? std::min<nanoseconds>(*left, ShieldedSlice) : nanoseconds(ShieldedSlice);
    }
    timespec limit{};
    if (left) {
        limit = toTimespec(*left);
    }
    const int ready = ::ppoll(fds, n, left ? &limit : nullptr, nullptr);
    if (device != nullptr) {
        device->revents = fds[0].revents;
    }
    return ready;
}

// Sleeps until `until`; false, at once, when a signal ends the wait.
bool napUnlessInterrupted(Clock::time_point until) {
    for (;;) {
        if (interruption::stopsWaits()) {
            return false;
        }
        if (Clock::now() >= until) {
            return true;
        }
        pollOrSignal(nullptr, until);
    }
}

std::optional<Clock::time_point> earliest(std::optional<Clock::time_point> a,
                                          std::optional<Clock::time_point> b) {
    if (!a) {
        return b;
    }
    if (!b) {
        return a;
    }
    return std::min(*a, *b);
}

class PosixSerialDevice final : public SerialDevice {
  public:
    PosixSerialDevice(int fd, bool setExclusive, LowLatency lowLatency)
        : fd_(fd), setExclusive_(setExclusive), lowLatency_(std::move(lowLatency)) {}
    ~PosixSerialDevice() override {
        if (fd_ >= 0) {
            release();
        }
    }
    PosixSerialDevice(const PosixSerialDevice&) = delete;
    PosixSerialDevice& operator=(const PosixSerialDevice&) = delete;

    bool getState(LineSettings& out) override {
        NativeRecord record;
        if (::ioctl(fd_, TCGETS2, &record.line) != 0) {
            return fail(errno);
        }
        int bits = 0;
        record.modemKnown = ::ioctl(fd_, TIOCMGET, &bits) == 0;
        record.modemBits = record.modemKnown ? bits : 0;
        out.fields = fieldsOf(record);
        out.native = encodeNative(record);
        return true;
    }

    bool setState(const LineSettings& settings) override {
        const std::optional<NativeRecord> found = decodeNative(settings.native);
        if (!found) {
            return fail(SystemError{EINVAL, "settings not in this system's form"});
        }
        // Settings handed back as they were read go back byte for byte.
        const bool asFound = settings.fields == fieldsOf(*found);
        termios2 wanted = found->line;
        if (!asFound) {
            if (!applyFields(wanted, settings.fields)) {
                return fail(SystemError{EINVAL, "the line cannot take these settings"});
            }
            makeRaw(wanted);
        }
        if (::ioctl(fd_, TCSETS2, &wanted) != 0) {
            return fail(errno);
        }
        termios2 got{};
        if (::ioctl(fd_, TCGETS2, &got) != 0) {
            return fail(errno);
        }
        if (!kernelTook(wanted, got)) {
            return fail(SystemError{EINVAL, "the driver did not take the settings"});
        }
        if (!asFound || found->modemKnown) {
            driveModemLines(settings.fields);
        }
        return true;
    }

    bool getTimeouts(CommTimeouts& out) override {
        out = timeouts_;
        return fd_ >= 0 || fail(EBADF);
    }

    bool setTimeouts(const CommTimeouts& timeouts) override {
        if (fd_ < 0) {
            return fail(EBADF);
        }
        timeouts_ = timeouts;
        return true;
    }

    // The kernel's buffers have a fixed size.
    bool setupQueues(std::uint32_t, std::uint32_t) override { return fd_ >= 0 || fail(EBADF); }

    bool flush() override {
        for (;;) {
            // A drain held up by flow control could take for ever; after a signal it is skipped.
            if (interruption::stopsWaits()) {
                return fail(interruptedError());
            }
            // TCSBRK with a non-zero argument sends no break and only waits for the output,
            // which is what tcdrain does.
            if (::ioctl(fd_, TCSBRK, 1UL) == 0) {
                return true;
            }
            if (errno != EINTR) {
                return fail(errno);
            }
        }
    }

    // Line errors are not latched on Linux.
    bool clearErrors() override { return fd_ >= 0 || fail(EBADF); }

    bool purge(std::uint32_t flags) override {
        bool ok = true;
        if ((flags & (PurgeRxAbort | PurgeRxClear)) != 0) {
            ok = (::ioctl(fd_, TCFLSH, TCIFLUSH) == 0 || fail(errno)) && ok;
        }
        if ((flags & (PurgeTxAbort | PurgeTxClear)) != 0) {
            // On a pseudo-terminal TCOFLUSH also drops bytes already written but not yet read
            // by the other side, which a real line would have delivered; a pty never reports
            // queued output, so this leaves them alone.
            int queued = 0;
            if (::ioctl(fd_, TIOCOUTQ, &queued) != 0) {
                ok = fail(errno);
            } else if (queued > 0) {
                ok = (::ioctl(fd_, TCFLSH, TCOFLUSH) == 0 || fail(errno)) && ok;
            }
        }
        return ok;
    }

    bool read(std::span<std::uint8_t> into, std::size_t& got) override {
        got = 0;
        if (into.empty()) {
            return true;
        }
        const Clock::time_point start = Clock::now();
        const ReadTimeoutRule rule = ReadTimeoutRule::forRead(timeouts_, into.size());
        std::optional<Clock::time_point> totalEnd;
        if (rule.returnAtOnce) {
            totalEnd = start;
        } else if (rule.total) {
            totalEnd = start + *rule.total;
        }
        std::optional<Clock::time_point> gapEnd;
        for (;;) {
            switch (waitFor(POLLIN, earliest(totalEnd, gapEnd))) {
                case Wait::Failed:
                    return false;  // the wait has said why
                case Wait::TimedOut:
                    return true;
                case Wait::Ready:
                    break;
            }
            const ssize_t n = ::read(fd_, into.data() + got, into.size() - got);
            if (n < 0) {
                if (errno == EINTR || errno == EAGAIN) {
                    continue;
                }
                return fail(errno);
            }
            if (n == 0) {
                // Readable yet empty: the line has hung up.
                return fail(hungUp());
            }
            got += static_cast<std::size_t>(n);
            if (got == into.size() || rule.returnAtOnce || rule.returnOnFirstBytes) {
                return true;
            }
            if (rule.interval) {
                gapEnd = Clock::now() + *rule.interval;
            }
        }
    }

    bool write(std::span<const std::uint8_t> bytes, std::size_t& written) override {
        written = 0;
        if (bytes.empty()) {
            return true;
        }
        if (interruption::stopsWaits()) {
            return fail(interruptedError());
        }
        std::optional<Clock::time_point> deadline;
        if (const auto limit = writeTimeLimit(timeouts_, bytes.size())) {
            deadline = Clock::now() + *limit;
        }
        std::size_t accepted = 0;
        while (accepted < bytes.size()) {
            const ssize_t n = ::write(fd_, bytes.data() + accepted, bytes.size() - accepted);
            if (n > 0) {
                accepted += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0 && errno != EAGAIN) {
                return fail(errno);
            }
            const Wait room = waitFor(POLLOUT, deadline);
            if (room == Wait::Failed) {
                return false;
            }
            if (room == Wait::TimedOut) {
                break;
            }
        }
        return awaitDrained(accepted, deadline, written);
    }

    bool close() override {
        if (fd_ < 0) {
            return fail(EBADF);
        }
        return release() || fail(errno);
    }

    std::string openNotes() const override { return lowLatency_.note; }

    std::optional<std::size_t> queuedInput() override {
        int queued = 0;
        if (fd_ < 0 || ::ioctl(fd_, TIOCINQ, &queued) != 0 || queued < 0) {
            return std::nullopt;
        }
        return static_cast<std::size_t>(queued);
    }
    SystemError lastError() const override { return lastError_; }

  private:
    enum class Wait { Ready, TimedOut, Failed };

    bool fail(int code) { return fail(systemError(code)); }
    bool fail(SystemError error) {
        lastError_ = std::move(error);
        return false;
    }

    // One wait against a deadline fixed by the caller; a deadline already passed still looks
    // once at the device. A signal ends it at once as a failure, unless the device is ready
    // already: an acknowledgement that has arrived is taken, so that the program knows the
    // board has it.
    Wait waitFor(short events, std::optional<Clock::time_point> until) {
        for (;;) {
            const bool interrupted = interruption::stopsWaits();
            pollfd watch{fd_, events, 0};
            const int ready =
                interrupted ? ::ppoll(&watch, 1, &NoTime, nullptr) : pollOrSignal(&watch, until);
            if (ready < 0) {
                if (errno == EINTR) {
                    continue;
                }
                fail(errno);
                return Wait::Failed;
            }
            if ((watch.revents & (POLLERR | POLLHUP)) != 0) {
                // What a pulled adapter or a closed far end looks like: the next read or write
                // would fail at once, so the wait does not go round again.
                fail(hungUp());
                return Wait::Failed;
            }
            if ((watch.revents & POLLNVAL) != 0) {
                fail(EBADF);
                return Wait::Failed;
            }
            if ((watch.revents & events) != 0) {
                return Wait::Ready;
            }
            if (interrupted) {
                fail(interruptedError());
                return Wait::Failed;
            }
            if (until && Clock::now() >= *until) {
                return Wait::TimedOut;
            }
        }
    }

    // A write is done when its bytes have left the port, not when the kernel took them; what is
    // still queued at the deadline is thrown away and not counted.
    bool awaitDrained(std::size_t accepted, std::optional<Clock::time_point> deadline,
                      std::size_t& written) {
        termios2 line{};
        const nanoseconds byteTime =
            ::ioctl(fd_, TCGETS2, &line) == 0 ? byteTimeOf(line) : nanoseconds(milliseconds(1));
        nanoseconds pause{};
        int before = -1;
        for (;;) {
            int queued = 0;
            if (::ioctl(fd_, TIOCOUTQ, &queued) != 0) {
                return fail(errno);
            }
            if (queued <= 0) {
                written = accepted;
                return true;
            }
            const Clock::time_point now = Clock::now();
            if (deadline && now >= *deadline) {
                // Counted before discarding: a byte leaving in between is reported lost, never
                // the other way round.
                ::ioctl(fd_, TCFLSH, TCOFLUSH);
                written = accepted - std::min(accepted, static_cast<std::size_t>(queued));
                return true;
            }
            // Sleep for as long as the queue should take to go out; a queue that does not move
            // (flow control holding it) is looked at less and less often.
            if (before >= 0 && queued >= before) {
                pause = std::min<nanoseconds>(pause * 2, milliseconds(20));
            } else {
                pause = std::max<nanoseconds>(byteTime * queued, microseconds(100));
            }
            before = queued;
            nanoseconds nap = pause;
            if (deadline) {
                nap = std::min<nanoseconds>(nap, *deadline - now);
            }
            if (!napUnlessInterrupted(now + nap)) {
                // What has not left is dropped, so that the restored settings and the close do
                // not wait for it.
                ::ioctl(fd_, TCFLSH, TCOFLUSH);
                written = accepted - std::min(accepted, static_cast<std::size_t>(queued));
                return fail(interruptedError());
            }
        }
    }

    void driveModemLines(const DcbFields& f) {
        // Lines a device lacks (a pseudo-terminal has none) are not an error.
        const auto drive = [this](int line, bool on) {
            ::ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &line);
        };
        if (f.dtrControl == DtrControl::Enable || f.dtrControl == DtrControl::Disable) {
            drive(TIOCM_DTR, f.dtrControl == DtrControl::Enable);
        }
        // Under CRTSCTS the kernel drives RTS itself.
        if (f.rtsControl == RtsControl::Enable || f.rtsControl == RtsControl::Disable) {
            drive(TIOCM_RTS, f.rtsControl == RtsControl::Enable);
        }
    }

    bool release() {
        putBackLowLatency(serialFlagsOf(fd_), lowLatency_);
        // A pseudo-terminal keeps the exclusive flag after the last close and would lock out
        // every later opener. A flag this process did not set is not its to clear.
        if (setExclusive_) {
            ::ioctl(fd_, TIOCNXCL);
        }
        ::flock(fd_, LOCK_UN);
        // Linux frees the descriptor even when close reports an error, so it is never retried.
        const int result = ::close(fd_);
        fd_ = -1;
        return result == 0;
    }

    int fd_;
    bool setExclusive_;
    LowLatency lowLatency_;
    CommTimeouts timeouts_{};
    SystemError lastError_{};
};

}  // namespace

std::unique_ptr<SerialDevice> PosixPlatform::openSerial(const std::string& name, OpenFailure& why) {
    why = {};
    const std::string path = devicePath(name, PortNaming::Posix);
    // O_NONBLOCK: a port without carrier would otherwise hang the open; every wait is a poll.
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        why = failureFor(errno, path);
        return nullptr;
    }
    const auto giveUp = [&](int error, std::string_view reason) {
        ::close(fd);
        why = failureFor(error, path, reason);
        return nullptr;
    };
    if (::isatty(fd) == 0) {
        OpenFailure failure = failureFor(errno, path, "not a terminal");
        failure.kind = OpenFailure::Kind::NotATerminal;
        ::close(fd);
        why = failure;
        return nullptr;
    }
    // Root passes another program's TIOCEXCL, so the flag is looked at before anything else: a
    // port held exclusively is busy for root too, as the kernel makes it for everyone else.
    int held = 0;
    const bool heldKnown = ::ioctl(fd, TIOCGEXCL, &held) == 0;
    if (heldKnown && held != 0) {
        return giveUp(EBUSY, "held exclusively by another program");
    }
    // The advisory lock keeps out programs that lock without setting the flag, and a second copy
    // of this one that got past the look above at the same moment. Taking it before TIOCEXCL
    // means a loser never touches the flag its owner set.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        return giveUp(errno, "in use by another program");
    }
    if (::ioctl(fd, TIOCEXCL) != 0) {
        return giveUp(errno, "cannot be opened exclusively");
    }
    // Only once the port is ours: a loser above must not touch the owner's setting. Where the
    // flag could not be read, whether it was ours to set is not known, so it is left at close.
    return std::make_unique<PosixSerialDevice>(fd, heldKnown,
                                               switchOnLowLatency(serialFlagsOf(fd)));
}

void PosixPlatform::sleep(std::chrono::milliseconds duration) {
    napUnlessInterrupted(Clock::now() + duration);
}

std::chrono::nanoseconds PosixPlatform::now() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch());
}

}  // namespace zq
