#include "app/sim/pty_board.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <utility>

namespace zq::sim {

namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

// A host that times its reads in milliseconds cannot tell a byte this much early, and at high line
// speeds it saves a wake-up per byte, so bytes due that soon go out with the ones due now.
constexpr SimTime EarlyBy = microseconds(200);
// How long to leave the master alone after it reported that nobody holds the slave side.
constexpr SimTime HungUpPause = milliseconds(50);
// A board pulled while programming is pulled this long after its Ack of the image is due at the
// host, so that the host has read the Ack; the host then waits seconds before it asks again.
constexpr SimTime AckReadTime = milliseconds(100);

std::string failure(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

bool makeRaw(int fd) {
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0) {
        return false;
    }
    ::cfmakeraw(&settings);
    return ::tcsetattr(fd, TCSANOW, &settings) == 0;
}

double inMs(SimTime t) {
    return static_cast<double>(t.count()) / 1e6;
}

timespec toTimespec(SimTime d) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(d);
    return {.tv_sec = static_cast<time_t>(seconds.count()),
            .tv_nsec = static_cast<long>((d - seconds).count())};
}

}  // namespace

const char* signalName(int number) {
    switch (number) {
        case SIGINT:
            return "SIGINT";
        case SIGHUP:
            return "SIGHUP";
        default:
            return "SIGTERM";
    }
}

PtyBoard::PtyBoard(SimOptions options)
    : options_(std::move(options)),
      board_(options_.board),
      start_(std::chrono::steady_clock::now()) {
    board_.onExchange = [this](SimTime at, const std::string& summary) { log(at, summary); };
}

PtyBoard::~PtyBoard() {
    announcement_.withdraw();
    closeAll();
    removeLink();
}

SimTime PtyBoard::elapsed() const {
    return std::chrono::duration_cast<SimTime>(std::chrono::steady_clock::now() - start_);
}

void PtyBoard::log(SimTime at, const std::string& text) const {
    if (!options_.quiet) {
        std::printf("%s%10.3f ms  %s\n", options_.logPrefix.c_str(), inMs(at), text.c_str());
    }
}

bool PtyBoard::open(std::string& error) {
    // The stop signals are taken through a descriptor in the poll set, so a signal never lands
    // between deciding to wait and waiting, and no handler state is needed. They are blocked
    // before the link exists, so no signal can leave it behind.
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGHUP);
    sigaddset(&stops, SIGUSR1);  // not a stop: a pull
    if (::sigprocmask(SIG_BLOCK, &stops, nullptr) != 0) {
        error = failure("sigprocmask");
        return false;
    }
    signals_ = ::signalfd(-1, &stops, SFD_NONBLOCK | SFD_CLOEXEC);
    if (signals_ < 0) {
        error = failure("signalfd");
        return false;
    }
    pulls_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (pulls_ < 0) {
        error = failure("eventfd");
        return false;
    }
    // Whoever reads our log may go away; the board keeps serving the host regardless.
    std::signal(SIGPIPE, SIG_IGN);
    return plug(error);
}

void PtyBoard::pullNow() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(pulls_, &one, sizeof one);
}

bool PtyBoard::plug(std::string& error) {
    ++plugged_;
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0) {
        error = failure("posix_openpt");
        return false;
    }
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
        error = failure("grantpt/unlockpt");
        return false;
    }
    char name[128];
    if (::ptsname_r(master_, name, sizeof name) != 0) {
        error = failure("ptsname_r");
        return false;
    }
    slavePath_ = name;
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) {
        error = failure("open " + slavePath_);
        return false;
    }
    // Raw, so nothing the board sends is echoed back to it or altered on the way to the host.
    if (!makeRaw(slave_)) {
        error = failure("raw mode on " + slavePath_);
        return false;
    }
    const int flags = ::fcntl(master_, F_GETFL);
    if (flags < 0 || ::fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0) {
        error = failure("non-blocking master");
        return false;
    }
    // Our own descriptor was opened before the watch, so only the host's opens are counted.
    watch_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch_ >= 0 && ::inotify_add_watch(watch_, name, IN_OPEN | IN_CLOSE) < 0) {
        ::close(watch_);
        watch_ = -1;
    }
    if (watch_ < 0) {
        if (options_.exitAfterOperations || options_.pullAfterProgramming > 0) {
            error = failure("watching " + slavePath_ + " for the host's sessions");
            return false;
        }
        std::fprintf(stderr,
                     "zq417-sim: cannot watch %s for the host's sessions (%s); a host that locks "
                     "the device may find it busy when it opens it again\n",
                     name, std::strerror(errno));
    }
    if (!options_.linkPath.empty() && !placeLink(error)) {
        return false;
    }
    if (plugged_ == 1) {
        start_ = std::chrono::steady_clock::now();
    }
    announce();
    return true;
}

std::string PtyBoard::plugLine() const {
    const std::string mode = describeMode(options_.board.mode);
    if (options_.boards == 1) {
        return "zq417-sim: board in " + mode + " mode on " + slavePath_ + "\n" +
               (options_.linkPath.empty() ? ""
                                          : "zq417-sim: " + options_.linkPath + " links to it\n");
    }
    return "zq417-sim: board " + std::to_string(options_.boardIndex) + " in " + mode + " mode on " +
           slavePath_ + (options_.linkPath.empty() ? "" : " (link " + options_.linkPath + ")") +
           "\n";
}

bool PtyBoard::pulledWhileProgramming() const {
    return plugged_ <= options_.pullWhileProgramming;
}

bool PtyBoard::pulledAfterProgramming() const {
    return !pulledWhileProgramming() &&
           plugged_ <= options_.pullWhileProgramming + options_.pullAfterProgramming;
}

// The board goes as a pulled adapter does: the device with everything the host had on its way
// to it or from it, the announcement and the link. The host's descriptors stay hung up even when
// the next board's device gets the same name.
void PtyBoard::pull() {
    announcement_.withdraw();
    for (int* fd : {&master_, &slave_, &watch_}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
    removeLink();
    programmedEarlier_ += board_.imagesProgrammed();
    board_.output().clear();
    pending_.clear();
    hostOpens_ = 0;
    masterPausedUntil_ = SimTime{0};
    plugAt_ = elapsed() + std::chrono::duration_cast<SimTime>(options_.plugGap);
    // Said once the board is gone, so that whoever reads it finds it gone.
    const std::string who =
        options_.boards == 1 ? "board" : "board " + std::to_string(options_.boardIndex);
    std::printf("zq417-sim: %s pulled %s\n", who.c_str(),
                pulledByHand_              ? "on SIGUSR1"
                : pulledWhileProgramming() ? "while it programmed its EEPROM"
                                           : "after the host let go of it");
    pulledByHand_ = false;
}

// A new board: the state of the one before (its mode, its faults met, its image) is not carried
// over, only the options it was made from.
bool PtyBoard::plugNext() {
    board_ = BoardModel(options_.board);
    board_.onExchange = [this](SimTime at, const std::string& summary) { log(at, summary); };
    std::string error;
    if (!plug(error)) {
        std::fprintf(stderr, "zq417-sim: %s\n", error.c_str());
        return false;
    }
    std::printf("%s", plugLine().c_str());
    return true;
}

bool PtyBoard::placeLink(std::string& error) {
    const std::string& path = options_.linkPath;
    struct stat found {};
    if (::lstat(path.c_str(), &found) == 0) {
        if (!S_ISLNK(found.st_mode)) {
            error = path + " exists and is not a symbolic link";
            return false;
        }
        ::unlink(path.c_str());  // most likely left by a run that was killed
    }
    if (::symlink(slavePath_.c_str(), path.c_str()) != 0) {
        error = failure("symlink " + path);
        return false;
    }
    linked_ = true;
    return true;
}

// A board nobody can list is still served by its device path, as before boards were announced.
void PtyBoard::announce() {
    announcedMode_ = board_.mode(elapsed());
    std::error_code ec;
    const std::filesystem::path link =
        linked_ ? std::filesystem::absolute(options_.linkPath, ec).lexically_normal()
                : std::filesystem::path();
    const VirtualBoard board{.devicePath = slavePath_,
                             .linkPath = link.string(),
                             .mode = describeMode(announcedMode_),
                             .pid = static_cast<long>(::getpid()),
                             .index = options_.boardIndex};
    std::string error;
    if (!announcement_.announce(board, error)) {
        std::fprintf(stderr, "zq417-sim: the board is not announced to port lists: %s\n",
                     error.c_str());
    }
}

void PtyBoard::removeLink() {
    if (!linked_) {
        return;
    }
    linked_ = false;
    // Leave the path alone if something else has taken it over since.
    char target[256];
    const ssize_t length = ::readlink(options_.linkPath.c_str(), target, sizeof target);
    if (length > 0 && std::string(target, static_cast<std::size_t>(length)) == slavePath_) {
        ::unlink(options_.linkPath.c_str());
    }
}

void PtyBoard::closeAll() {
    // The master goes first: closing it is what hangs up every descriptor of the slave side.
    for (int* fd : {&master_, &slave_, &watch_, &signals_, &pulls_}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
}

int PtyBoard::run() {
    for (;;) {
        const SimTime now = elapsed();
        if (pullAt_ && now >= *pullAt_) {
            pullAt_.reset();
            pull();
        }
        if (plugAt_ && now >= *plugAt_) {
            plugAt_.reset();
            if (!plugNext()) {
                return 1;
            }
        }
        takeDue(now);
        writePending();
        if (finished_) {
            return 0;
        }

        const bool masterPaused = now < masterPausedUntil_;
        pollfd fds[4] = {};
        fds[0] = {.fd = stopFd_ >= 0 ? stopFd_ : signals_, .events = POLLIN, .revents = 0};
        // A paused master is left out entirely: it would report its hang-up again at once. While
        // the link is empty, master and watch are closed (-1) and left out as well.
        fds[1] = {.fd = masterPaused ? -1 : master_,
                  .events = static_cast<short>(POLLIN | (pending_.empty() ? 0 : POLLOUT)),
                  .revents = 0};
        fds[2] = {.fd = watch_, .events = POLLIN, .revents = 0};
        fds[3] = {.fd = pulls_, .events = POLLIN, .revents = 0};

        std::optional<SimTime> wakeAt;
        if (pending_.empty() && !board_.output().empty()) {
            wakeAt = board_.output().front().at - EarlyBy;
        }
        if (masterPaused) {
            wakeAt = std::min(wakeAt.value_or(masterPausedUntil_), masterPausedUntil_);
        }
        for (const std::optional<SimTime>& at : {pullAt_, plugAt_}) {
            if (at) {
                wakeAt = std::min(wakeAt.value_or(*at), *at);
            }
        }
        timespec timeout{};
        if (wakeAt) {
            timeout = toTimespec(std::max(*wakeAt - now, SimTime{0}));
        }
        if (::ppoll(fds, 4, wakeAt ? &timeout : nullptr, nullptr) < 0) {
            if (errno == EINTR) {
                continue;
            }
            std::fprintf(stderr, "zq417-sim: %s\n", failure("ppoll").c_str());
            return 1;
        }

        if ((fds[0].revents & POLLIN) != 0 && stopFd_ >= 0) {
            return 0;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            signalfd_siginfo info{};
            const ssize_t got = ::read(signals_, &info, sizeof info);
            const int number = got == sizeof info ? static_cast<int>(info.ssi_signo) : SIGTERM;
            if (number == SIGUSR1) {
                pullNow();
                continue;
            }
            std::printf("zq417-sim: stopped by %s\n", signalName(number));
            return 0;
        }
        if ((fds[3].revents & POLLIN) != 0) {
            std::uint64_t asked = 0;
            [[maybe_unused]] const ssize_t got = ::read(pulls_, &asked, sizeof asked);
            // While the link is empty there is no board to pull.
            if (master_ >= 0 && !pullAt_) {
                pullAt_ = elapsed();
                pulledByHand_ = true;
            }
        }
        if ((fds[2].revents & POLLIN) != 0) {
            readSessionEvents();
        }
        if ((fds[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            readHost();
        }
        // Pulled once the Ack of the whole image has had time to reach the host, well before the
        // host, having waited for the EEPROM to be programmed, asks for the status.
        if (!pullAt_ && !plugAt_ && pulledWhileProgramming() && board_.imagesProgrammed() > 0) {
            const SimTime acknowledged =
                board_.output().empty() ? elapsed() : board_.output().back().at;
            pullAt_ = std::max(acknowledged, elapsed()) + AckReadTime;
        }
        if (board_.lineDropped()) {
            dropLine();
            return 0;
        }
    }
}

void PtyBoard::takeDue(SimTime now) {
    std::deque<TimedByte>& output = board_.output();
    while (!output.empty() && output.front().at <= now + EarlyBy) {
        pending_.push_back(output.front().byte);
        output.pop_front();
    }
}

void PtyBoard::writePending() {
    while (!pending_.empty()) {
        const ssize_t written = ::write(master_, pending_.data(), pending_.size());
        if (written > 0) {
            pending_.erase(pending_.begin(), pending_.begin() + written);
            continue;
        }
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written < 0 && errno == EAGAIN) {
            return;  // the host is not reading; poll says when there is room again
        }
        // Nobody on the other end: a real line loses these bytes as well.
        pending_.clear();
    }
}

void PtyBoard::readHost() {
    std::uint8_t buffer[4096];
    const ssize_t got = ::read(master_, buffer, sizeof buffer);
    if (got > 0) {
        const SimTime at = elapsed();
        for (ssize_t i = 0; i < got; ++i) {
            board_.receive(buffer[i], at);
        }
        return;
    }
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
        return;
    }
    // EIO: no one holds the slave side. Our own descriptor should rule that out; should it happen
    // anyway, wait for a host instead of spinning on a hang-up that poll keeps reporting.
    masterPausedUntil_ = elapsed() + HungUpPause;
}

void PtyBoard::readSessionEvents() {
    alignas(inotify_event) char buffer[4096];
    bool closed = false;
    for (;;) {
        const ssize_t got = ::read(watch_, buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        for (const char* p = buffer; p < buffer + got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(p);
            p += sizeof(inotify_event) + event->len;
            if ((event->mask & IN_OPEN) != 0 && hostOpens_++ == 0) {
                log(elapsed(), "host opened the port");
            }
            if ((event->mask & IN_CLOSE) != 0 && hostOpens_ > 0 && --hostOpens_ == 0) {
                log(elapsed(), "host closed the port");
                sessionEnded();
                closed = true;
                // A Download leaves the board running its firmware: lists say so from now on.
                if (board_.mode(elapsed()) != announcedMode_) {
                    announce();
                }
            }
        }
    }
    if (closed && hostOpens_ == 0) {
        clearLeftExclusive();
    }
    // A host that has already opened the port again is not cut off.
    if (closed && hostOpens_ == 0 && options_.exitAfterOperations &&
        imagesProgrammed() >= *options_.exitAfterOperations) {
        std::printf("zq417-sim: %d images programmed and the host let go, exiting\n",
                    imagesProgrammed());
        finished_ = true;
    } else if (closed && hostOpens_ == 0 && !pullAt_ && pulledAfterProgramming() &&
               board_.imagesProgrammed() > 0) {
        pullAt_ = elapsed();
    }
}

void PtyBoard::sessionEnded() {
    // A real port forgets what arrived while nobody listened. Even when a new session has begun
    // meanwhile, everything dropped here was meant for the old one: its open and its first bytes
    // come after this close in the event queue and on the line.
    ::tcflush(slave_, TCIFLUSH);
    board_.output().clear();
    pending_.clear();
}

void PtyBoard::clearLeftExclusive() {
    // Our own descriptor keeps the terminal open, so the TIOCEXCL of a host that ended without
    // clearing it (killed) would outlive its close, and its next open as an ordinary user would
    // fail with EBUSY; a real port forgets the flag on the last close. The flag is the simulator's
    // to clear only while nobody else has the device open: the count of opens is taken after
    // every queued event, the advisory lock that hosts take before they set the flag keeps them
    // out meanwhile, and the processes are looked at.
    int held = 0;
    if (::ioctl(slave_, TIOCGEXCL, &held) != 0 || held == 0 ||
        ::flock(slave_, LOCK_EX | LOCK_NB) != 0) {
        return;
    }
    const PortUsers users = findPortUsers(slavePath_, "/proc", static_cast<long>(::getpid()));
    if (users.complete && users.holders.empty()) {
        ::ioctl(slave_, TIOCNXCL);
    }
    ::flock(slave_, LOCK_UN);
}

void PtyBoard::dropLine() {
    std::printf("zq417-sim: line dropped after %zu bytes from the host, exiting\n",
                board_.received().size());
    // Closing the master hangs up the slave side: the host's reads return end of file at once
    // and its writes fail with EIO, as with an adapter pulled from the machine.
    announcement_.withdraw();
    closeAll();
    removeLink();
}

}  // namespace zq::sim
