#include "serial/posix/interrupt_pipe.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "serial/interruption.h"

namespace zq::posix {

namespace {

std::atomic<int> readEnd{-1};
std::atomic<int> writeEnd{-1};

void wake() noexcept {
    const int saved = errno;  // a handler must leave errno as it found it
    const char byte = 1;
    // A full pipe is already readable, which is all a wait looks for.
    [[maybe_unused]] const ssize_t n = ::write(writeEnd.load(), &byte, 1);
    errno = saved;
}

// Reads the pipe empty: its readable end says a signal came until the interruption is cleared.
void settle() noexcept {
    char bytes[64];
    while (::read(readEnd.load(), bytes, sizeof bytes) > 0) {
    }
}

}  // namespace

bool armInterruptPipe() {
    if (readEnd.load() >= 0) {
        return true;
    }
    int ends[2];
    if (::pipe2(ends, O_NONBLOCK | O_CLOEXEC) != 0) {
        return false;
    }
    writeEnd.store(ends[1]);
    readEnd.store(ends[0]);
    interruption::setWaker(&wake);
    interruption::setSettler(&settle);
    return true;
}

int interruptPipeFd() {
    return readEnd.load();
}

}  // namespace zq::posix
