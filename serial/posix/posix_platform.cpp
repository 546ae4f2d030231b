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

#include "serial/timeout_rules.h"

namespace zq {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::microseconds;
using std::chrono::milliseconds;
using std::chrono::nanoseconds;

// LineSettings::native: the termios2 record exactly as the kernel gave it, then the modem-line
// bits and whether the device has modem lines at all (a pseudo-terminal has none).
struct NativeRecord {
    termios2 line{};
    int modemBits = 0;
    bool modemKnown = false;
};

constexpr std::size_t NativeSize = sizeof(termios2) + sizeof(int) + 1;

std::vector<std::uint8_t> encodeNative(const NativeRecord& record) {
    std::vector<std::uint8_t> bytes(NativeSize);
    std::memcpy(bytes.data(), &record.line, sizeof record.line);
    std::memcpy(bytes.data() + sizeof record.line, &record.modemBits, sizeof record.modemBits);
    bytes.back() = record.modemKnown ? 1 : 0;
    return bytes;
}

std::optional<NativeRecord> decodeNative(const std::vector<std::uint8_t>& bytes) {
    if (bytes.size() != NativeSize) {
        return std::nullopt;
    }
    NativeRecord record;
    std::memcpy(&record.line, bytes.data(), sizeof record.line);
    std::memcpy(&record.modemBits, bytes.data() + sizeof record.line, sizeof record.modemBits);
    record.modemKnown = bytes.back() != 0;
    return record;
}

std::uint8_t byteSizeOf(tcflag_t cflag) {
    switch (cflag & CSIZE) {
        case CS5:
            return 5;
        case CS6:
            return 6;
        case CS7:
            return 7;
        default:
            return 8;
    }
}

Parity parityOf(tcflag_t cflag) {
    if ((cflag & PARENB) == 0) {
        return Parity::None;
    }
    const bool odd = (cflag & PARODD) != 0;
    if ((cflag & CMSPAR) != 0) {
        return odd ? Parity::Mark : Parity::Space;
    }
    return odd ? Parity::Odd : Parity::Even;
}

StopBits stopBitsOf(tcflag_t cflag) {
    return (cflag & CSTOPB) != 0 ? StopBits::Two : StopBits::One;
}

DcbFields fieldsOf(const NativeRecord& record) {
    const termios2& t = record.line;
    DcbFields f;
    f.baudRate = t.c_ospeed;
    f.byteSize = byteSizeOf(t.c_cflag);
    f.parity = parityOf(t.c_cflag);
    f.stopBits = stopBitsOf(t.c_cflag);
    f.binary = true;
    f.parityCheck = (t.c_iflag & INPCK) != 0;
    f.outxCtsFlow = (t.c_cflag & CRTSCTS) != 0;
    f.outX = (t.c_iflag & IXON) != 0;
    f.inX = (t.c_iflag & IXOFF) != 0;
    f.xonChar = static_cast<char>(t.c_cc[VSTART]);
    f.xoffChar = static_cast<char>(t.c_cc[VSTOP]);
    if (record.modemKnown) {
        f.dtrControl =
            (record.modemBits & TIOCM_DTR) != 0 ? DtrControl::Enable : DtrControl::Disable;
        f.rtsControl =
            (record.modemBits & TIOCM_RTS) != 0 ? RtsControl::Enable : RtsControl::Disable;
    }
    return f;
}

void setFlag(tcflag_t& flags, tcflag_t bits, bool on) {
    flags = on ? (flags | bits) : (flags & ~bits);
}

bool applyFields(termios2& t, const DcbFields& f) {
    static constexpr tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    if (f.byteSize < 5 || f.byteSize > 8) {
        return false;
    }
    // BOTHER in both speed fields: 14400 has no Bxxx constant, and the input follows the output.
    t.c_cflag &= ~(CBAUD | CIBAUD);
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = f.baudRate;
    t.c_ospeed = f.baudRate;

    t.c_cflag = (t.c_cflag & ~CSIZE) | sizes[f.byteSize - 5];
    t.c_cflag &= ~(PARENB | PARODD | CMSPAR);
    switch (f.parity) {
        case Parity::None:
            break;
        case Parity::Odd:
            t.c_cflag |= PARENB | PARODD;
            break;
        case Parity::Even:
            t.c_cflag |= PARENB;
            break;
        case Parity::Mark:
            t.c_cflag |= PARENB | CMSPAR | PARODD;
            break;
        case Parity::Space:
            t.c_cflag |= PARENB | CMSPAR;
            break;
    }
    // Linux sends one and a half stop bits for CSTOPB with five data bits, as Windows does.
    setFlag(t.c_cflag, CSTOPB, f.stopBits != StopBits::One);
    setFlag(t.c_iflag, INPCK, f.parityCheck);
    setFlag(t.c_cflag, CRTSCTS, f.outxCtsFlow);
    setFlag(t.c_iflag, IXON, f.outX);
    setFlag(t.c_iflag, IXOFF, f.inX);
    t.c_cc[VSTART] = static_cast<cc_t>(f.xonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(f.xoffChar);
    return true;
}

// A Windows port never edits the byte stream, so nothing of the terminal layer may stay on.
// Flow control and parity checking are left to the fields.
void makeRaw(termios2& t) {
    t.c_iflag &= ~(BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXANY | IUCLC | IMAXBEL);
    // A break is a line condition on Windows, not a NUL byte in the data.
    t.c_iflag |= IGNBRK;
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
}

// Drivers report the rate their divider really gives; a UART copes with a couple of percent.
bool closeEnough(speed_t wanted, speed_t got) {
    const std::uint64_t difference = wanted > got ? wanted - got : got - wanted;
    return difference * 50 <= wanted;
}

// TCSETS2 succeeds when any part of the request was taken, so what matters is read back.
bool kernelTook(const termios2& wanted, const termios2& got) {
    return closeEnough(wanted.c_ospeed, got.c_ospeed) &&
           byteSizeOf(wanted.c_cflag) == byteSizeOf(got.c_cflag) &&
           parityOf(wanted.c_cflag) == parityOf(got.c_cflag) &&
           stopBitsOf(wanted.c_cflag) == stopBitsOf(got.c_cflag);
}

nanoseconds byteTimeOf(const termios2& t) {
    if (t.c_ospeed == 0) {
        return milliseconds(1);
    }
    const int parityBits = (t.c_cflag & PARENB) != 0 ? 1 : 0;
    const int stopBits = (t.c_cflag & CSTOPB) != 0 ? 2 : 1;
    const long long bits = 1 + byteSizeOf(t.c_cflag) + parityBits + stopBits;
    return nanoseconds(1'000'000'000LL * bits / t.c_ospeed);
}

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

OpenFailure::Kind kindOf(int error) {
    switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return OpenFailure::Kind::NoSuchDevice;
        case EACCES:
        case EPERM:
            return OpenFailure::Kind::PermissionDenied;
        case EBUSY:
        case EWOULDBLOCK:
            return OpenFailure::Kind::Busy;
        case ENOTTY:
            return OpenFailure::Kind::NotATerminal;
        default:
            return OpenFailure::Kind::Other;
    }
}

// Serial devices usually belong to a group (dialout, uucp) the user must join; naming it turns
// "Permission denied" into something the user can act on.
std::optional<std::string> owningGroup(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return std::nullopt;
    }
    group entry{};
    group* found = nullptr;
    std::vector<char> buffer(1024);
    while (::getgrgid_r(info.st_gid, &entry, buffer.data(), buffer.size(), &found) == ERANGE) {
        buffer.resize(buffer.size() * 2);
    }
    if (found == nullptr) {
        return std::to_string(info.st_gid);
    }
    return std::string(found->gr_name);
}

OpenFailure failureFor(int error, const std::string& path, std::string_view why = {}) {
    OpenFailure failure;
    failure.kind = kindOf(error);
    failure.code = error;
    failure.detail = path + ": ";
    if (!why.empty()) {
        failure.detail += why;
        failure.detail += " (" + std::system_category().message(error) + ")";
    } else {
        failure.detail += std::system_category().message(error);
    }
    if (failure.kind == OpenFailure::Kind::PermissionDenied) {
        if (const auto groupName = owningGroup(path)) {
            failure.detail += " (the device belongs to group " + *groupName + ")";
        }
    }
    return failure;
}

class PosixSerialDevice final : public SerialDevice {
  public:
    explicit PosixSerialDevice(int fd) : fd_(fd) {}
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
    return std::make_unique<PosixSerialDevice>(fd);
}

void PosixPlatform::sleep(std::chrono::milliseconds duration) {
    std::this_thread::sleep_for(duration);
}

std::chrono::nanoseconds PosixPlatform::now() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch());
}

}  // namespace zq
