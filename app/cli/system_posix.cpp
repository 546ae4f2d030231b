#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ostream>

#include "app/cli/exit_status.h"
#include "app/cli/fd_output.h"
#include "app/cli/port_listing.h"
#include "app/cli/reason_text.h"
#include "app/cli/system_support.h"
#include "serial/interruption.h"
#include "serial/posix/interrupt_pipe.h"
#include "serial/posix/posix_platform.h"

namespace zq::cli {

namespace {

// A standard stream the program was started without is taken by /dev/null, read-only: writes to
// it fail as they did, and nothing the program opens later (a port, a log) is given its number
// and gets what was meant for the stream.
void holdClosedStandardStreams() {
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
            ::open("/dev/null", O_RDONLY);  // the lowest free number: this one
        }
    }
}

class PosixOutput : public ProgramOutput {
  public:
    PosixOutput() {
        holdClosedStandardStreams();
        ::signal(SIGPIPE, SIG_IGN);
        // As std::cerr: each write goes out at once, so that the two streams interleave in order.
        err_.setf(std::ios::unitbuf);
    }
    std::ostream& out() override { return out_; }
    std::ostream& err() override { return err_; }
    // A reader that went away cut the run short (128 + SIGPIPE) only where its outcome says so:
    // a board's known result keeps its status.
    int finish(int status) override {
        out_.flush();
        if (const int failure = outBuffer_.failure(); failure != 0) {
            err_ << "zq417-flash: standard output could not be written (" << std::strerror(failure)
                 << "); what it missed is on standard error\n";
            // A failure keeps its own status: it says that something went wrong already.
            status = status == ExitSuccess ? ExitOutputLost : status;
        }
        err_.flush();
        return status;
    }

  private:
    FdOutput outBuffer_{STDOUT_FILENO};
    FdOutput errBuffer_{STDERR_FILENO};
    std::ostream out_{&outBuffer_};
    std::ostream err_{&errBuffer_};
};

}  // namespace

std::unique_ptr<ProgramOutput> makeProgramOutput() {
    return std::make_unique<PosixOutput>();
}

std::unique_ptr<Platform> makeSystemPlatform() {
    return std::make_unique<PosixPlatform>();
}

bool standardErrorIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

std::string portOptionHelp() {
    return "COM1..COM4 (COMn is /dev/ttyS<n-1>), a device path, a /dev/serial/by-id name, or "
           "auto: the one USB serial adapter present, or with none the one virtual board "
           "zq417-sim serves. Default: $ZQ417_PORT, else auto";
}

namespace {

extern "C" void onInterrupt(int signal) {
    interruption::raise(signal);
}

}  // namespace

void installInterruptHandlers() {
    posix::armInterruptPipe();
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a blocking call the signal lands in returns EINTR, and its caller looks at
    // the interruption before going round again.
    action.sa_flags = 0;
    // Every signal whose default is to end the process, but SIGPIPE: that one is ignored, and a
    // write to a reader that has gone counts as it (see FdOutput).
    for (const int signal : {SIGHUP, SIGINT, SIGQUIT, SIGALRM, SIGTERM, SIGUSR1, SIGUSR2}) {
        ::sigaction(signal, &action, nullptr);
    }
}

// A POSIX process is not killed when its handler returns.
void markPortHandedBack() {}

void awaitReadableOrSignal(int descriptor, int limitMs) {
    // The wake pipe is readable from the first signal on, so a signal that came before this
    // call still ends the wait.
    pollfd fds[2] = {{descriptor, POLLIN, 0}, {posix::interruptPipeFd(), POLLIN, 0}};
    ::poll(fds, 2, limitMs);
}

}  // namespace zq::cli
