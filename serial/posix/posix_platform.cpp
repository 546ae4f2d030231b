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
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

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
    PosixSerialDevice(int fd, LowLatency lowLatency)
        : fd_(fd), lowLatency_(std::move(lowLatency)) {}
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
            return false;
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
            return false;
        }
        // Settings handed back as they were read go back byte for byte.
        const bool asFound = settings.fields == fieldsOf(*found);
        termios2 wanted = found->line;
        if (!asFound) {
            if (!applyFields(wanted, settings.fields)) {
                return false;
            }
            makeRaw(wanted);
        }
        if (::ioctl(fd_, TCSETS2, &wanted) != 0) {
            return false;
        }
        termios2 got{};
        if (::ioctl(fd_, TCGETS2, &got) != 0 || !kernelTook(wanted, got)) {
            return false;
        }
        if (!asFound || found->modemKnown) {
            driveModemLines(settings.fields);
        }
        return true;
    }

    bool getTimeouts(CommTimeouts& out) override {
        out = timeouts_;
        return fd_ >= 0;
    }

    bool setTimeouts(const CommTimeouts& timeouts) override {
        if (fd_ < 0) {
            return false;
        }
        timeouts_ = timeouts;
        return true;
    }

    // The kernel's buffers have a fixed size.
    bool setupQueues(std::uint32_t, std::uint32_t) override { return fd_ >= 0; }

    bool flush() override {
        for (;;) {
            // TCSBRK with a non-zero argument sends no break and only waits for the output,
            // which is what tcdrain does.
            if (::ioctl(fd_, TCSBRK, 1UL) == 0) {
                return true;
            }
            if (errno != EINTR) {
                return false;
            }
        }
    }

    // Line errors are not latched on Linux.
    bool clearErrors() override { return fd_ >= 0; }

    bool purge(std::uint32_t flags) override {
        bool ok = true;
        if ((flags & (PurgeRxAbort | PurgeRxClear)) != 0) {
            ok = ::ioctl(fd_, TCFLSH, TCIFLUSH) == 0 && ok;
        }
        if ((flags & (PurgeTxAbort | PurgeTxClear)) != 0) {
            // On a pseudo-terminal TCOFLUSH also drops bytes already written but not yet read
            // by the other side, which a real line would have delivered; a pty never reports
            // queued output, so this leaves them alone.
            int queued = 0;
            if (::ioctl(fd_, TIOCOUTQ, &queued) != 0) {
                ok = false;
            } else if (queued > 0) {
                ok = ::ioctl(fd_, TCFLSH, TCOFLUSH) == 0 && ok;
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
                    return false;
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
                return false;
            }
            if (n == 0) {
                // Readable yet empty: the line has hung up.
                return false;
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
                return false;
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
            return false;
        }
        return release();
    }

    std::string openNotes() const override { return lowLatency_.note; }

    std::optional<std::size_t> queuedInput() override {
        int queued = 0;
        if (fd_ < 0 || ::ioctl(fd_, TIOCINQ, &queued) != 0 || queued < 0) {
            return std::nullopt;
        }
        return static_cast<std::size_t>(queued);
    }

  private:
    enum class Wait { Ready, TimedOut, Failed };

    // One wait against a deadline fixed by the caller; a deadline already passed still looks
    // once at the device.
    Wait waitFor(short events, std::optional<Clock::time_point> until) {
        for (;;) {
            timespec left{};
            timespec* limit = nullptr;
            if (until) {
                left = toTimespec(std::max<nanoseconds>(*until - Clock::now(), nanoseconds(0)));
                limit = &left;
            }
            pollfd watch{fd_, events, 0};
            const int ready = ::ppoll(&watch, 1, limit, nullptr);
            if (ready < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return Wait::Failed;
            }
            if ((watch.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
                return Wait::Failed;
            }
            if ((watch.revents & events) != 0) {
                return Wait::Ready;
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
                return false;
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
            std::this_thread::sleep_for(nap);
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
        // every later opener that is not root.
        ::ioctl(fd_, TIOCNXCL);
        ::flock(fd_, LOCK_UN);
        // Linux frees the descriptor even when close reports an error, so it is never retried.
        const int result = ::close(fd_);
        fd_ = -1;
        return result == 0;
    }

    int fd_;
    LowLatency lowLatency_;
    CommTimeouts timeouts_{};
};

}  // namespace

std::string posixDevicePath(std::string_view name) {
    // Windows device names ignore case.
    const auto lower = [](char c) {
        return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    };
    if (name.size() == 4 && lower(name[0]) == 'c' && lower(name[1]) == 'o' &&
        lower(name[2]) == 'm' && name[3] >= '1' && name[3] <= '4') {
        return std::string("/dev/ttyS") + static_cast<char>(name[3] - 1);
    }
    return std::string(name);
}

std::unique_ptr<SerialDevice> PosixPlatform::openSerial(const std::string& name, OpenFailure& why) {
    why = {};
    const std::string path = posixDevicePath(name);
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
    // Root passes TIOCEXCL, so the lock is what keeps a second opener out. Taking it before
    // TIOCEXCL means a loser never touches the flag its owner set.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        return giveUp(errno, "in use by another program");
    }
    if (::ioctl(fd, TIOCEXCL) != 0) {
        return giveUp(errno, "cannot be opened exclusively");
    }
    // Only once the port is ours: a loser above must not touch the owner's setting.
    return std::make_unique<PosixSerialDevice>(fd, switchOnLowLatency(serialFlagsOf(fd)));
}

void PosixPlatform::sleep(std::chrono::milliseconds duration) {
    std::this_thread::sleep_for(duration);
}

std::chrono::nanoseconds PosixPlatform::now() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch());
}

}  // namespace zq
