#include "app/qt/termination_signals.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <iterator>

namespace zq::qt {

namespace {

constexpr int Signals[] = {SIGTERM, SIGHUP};

volatile std::sig_atomic_t writeEnd = -1;

extern "C" void onTerminationSignal(int) {
    const int savedErrno = errno;
    const char byte = 1;
    // A full socket already holds a byte the notifier has yet to read; nothing is lost.
    [[maybe_unused]] const ssize_t written = ::write(writeEnd, &byte, 1);
    errno = savedErrno;
}

}  // namespace

TerminationSignals::TerminationSignals(std::function<void()> onSignal)
    : onSignal_(std::move(onSignal)) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, sockets_) != 0) {
        sockets_[0] = sockets_[1] = -1;
        return;  // the window still works; a signal then ends it the default way
    }
    writeEnd = sockets_[1];
    notifier_ = new QSocketNotifier(sockets_[0], QSocketNotifier::Read);
    QObject::connect(notifier_, &QSocketNotifier::activated, [this] { drain(); });
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(Signals); ++i) {
        ::sigaction(Signals[i], &action, &previous_[i]);
    }
}

TerminationSignals::~TerminationSignals() {
    if (notifier_ != nullptr) {
        for (std::size_t i = 0; i < std::size(Signals); ++i) {
            ::sigaction(Signals[i], &previous_[i], nullptr);
        }
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
