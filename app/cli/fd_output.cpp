#include "app/cli/fd_output.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "serial/interruption.h"

namespace zq::cli {

namespace {

// Standard output and error may be one pipe (2>&1 | head): its reader going away is one event,
// and a second signal would cut the wait of a board programming its EEPROM.
void noteBrokenPipe() {
    static std::atomic<bool> noted{false};
    if (!noted.exchange(true)) {
        interruption::raise(SIGPIPE);
    }
}

}  // namespace

FdOutput::FdOutput(int fd) : fd_(fd) {
    setp(buffer_, buffer_ + sizeof buffer_);
}

FdOutput::~FdOutput() {
    drain();
}

FdOutput::int_type FdOutput::overflow(int_type c) {
    if (!drain()) {
        return traits_type::eof();
    }
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
        *pptr() = traits_type::to_char_type(c);
        pbump(1);
    }
    return traits_type::not_eof(c);
}

int FdOutput::sync() {
    return drain() ? 0 : -1;
}

bool FdOutput::drain() {
    const char* from = pbase();
    const char* const end = pptr();
    setp(buffer_, buffer_ + sizeof buffer_);
    // A signal that lands in a write (EINTR) is noted by its handler; the rest still goes out.
    while (!dropping_ && from < end) {
        const ssize_t written = ::write(fd_, from, static_cast<std::size_t>(end - from));
        if (written >= 0) {
            from += written;
        } else if (errno == EAGAIN) {
            // A descriptor shared with a program that made it non-blocking.
            pollfd ready{fd_, POLLOUT, 0};
            ::poll(&ready, 1, -1);
        } else if (errno != EINTR) {
            dropping_ = true;
            failure_.store(errno);
            if (errno == EPIPE) {
                noteBrokenPipe();
            }
        }
    }
    return !dropping_;
}

}  // namespace zq::cli
