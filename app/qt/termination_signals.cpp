#include "app/qt/termination_signals.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "serial/interruption.h"

namespace zq::qt {

namespace {

volatile std::sig_atomic_t writeEnd = -1;

extern "C" void onTerminationSignal(int signal) {
    const int savedErrno = errno;
    interruption::raise(signal);
    const char byte = 1;
    // A full socket already holds a byte the notifier has yet to read; nothing is lost.
    [[maybe_unused]] const ssize_t written = ::write(writeEnd, &byte, 1);
    errno = savedErrno;
}

constexpr std::size_t PipeSlot = std::size(posix::TerminatingSignals);

}  // namespace

TerminationSignals::TerminationSignals(std::function<void()> onSignal)
    : onSignal_(std::move(onSignal)) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, sockets_) != 0) {
        sockets_[0] = sockets_[1] = -1;
        return;  // the window still works; a signal then ends it the default way
    }
    // Before the handlers: a wait must be able to see the first signal.
    posix::armInterruptPipe();
    writeEnd = sockets_[1];
    notifier_ = new QSocketNotifier(sockets_[0], QSocketNotifier::Read);
    QObject::connect(notifier_, &QSocketNotifier::activated, [this] { drain(); });
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a blocking call the signal lands in returns EINTR, and the port's waits
    // look at the interruption before going round again.
    action.sa_flags = 0;
    for (std::size_t i = 0; i < PipeSlot; ++i) {
        ::sigaction(posix::TerminatingSignals[i], &action, &previous_[i]);
    }
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, &previous_[PipeSlot]);
}

TerminationSignals::~TerminationSignals() {
    if (notifier_ != nullptr) {
        for (std::size_t i = 0; i < PipeSlot; ++i) {
            ::sigaction(posix::TerminatingSignals[i], &previous_[i], nullptr);
        }
        ::sigaction(SIGPIPE, &previous_[PipeSlot], nullptr);
    }
    writeEnd = -1;
    delete notifier_;
    for (int fd : sockets_) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

void TerminationSignals::drain() {
    char bytes[16];
    while (::read(sockets_[0], bytes, sizeof bytes) > 0) {
    }
    if (onSignal_) {
        onSignal_();
    }
}

}  // namespace zq::qt
