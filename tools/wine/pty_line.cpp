// Preloaded into Wine by the Wine tests (LD_PRELOAD), so that the pseudo-terminal standing in for
// COM1 behaves like a serial line when a program purges it.
//
// Wine carries out PurgeComm's transmit flags with tcflush(TCOFLUSH). On a line that discards
// only what the UART has not sent yet, and after FlushFileBuffers nothing is left. On a
// pseudo-terminal nothing is ever left on the output side: a write lands at once in the other
// side's input, and TCOFLUSH throws that away instead, so bytes the board would long have had
// vanish whenever zq417-sim has not read them yet. The Download phase purges right after the
// image, and on a busy machine the image's tail went missing now and then.
//
// Here an output flush is made only while the device reports output still queued, which a line
// with bytes in flight does and a pseudo-terminal never does.
#include <dlfcn.h>
#include <sys/ioctl.h>
#include <termios.h>

namespace {

using TcflushFunction = int (*)(int, int);

TcflushFunction realTcflush() {
    static const auto function = reinterpret_cast<TcflushFunction>(dlsym(RTLD_NEXT, "tcflush"));
    return function;
}

bool outputQueued(int fd) {
    int queued = 0;
    // A device that cannot tell is flushed as asked.
    return ::ioctl(fd, TIOCOUTQ, &queued) != 0 || queued > 0;
}

}  // namespace

extern "C" int tcflush(int fd, int queue) {
    const TcflushFunction flush = realTcflush();
    if (flush == nullptr) {
        return -1;
    }
    if ((queue == TCOFLUSH || queue == TCIOFLUSH) && !outputQueued(fd)) {
        return queue == TCIOFLUSH ? flush(fd, TCIFLUSH) : 0;
    }
    return flush(fd, queue);
}
