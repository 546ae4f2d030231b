#pragma once

#include <csignal>

namespace zq::posix {

// The signals that end a process by default and that the programs here turn into an
// interruption, so that a port they hold is handed back on the way out. SIGPIPE is not among
// them: it is ignored, and the write that the reader went away from fails instead.
inline constexpr int TerminatingSignals[] = {SIGHUP,  SIGINT,  SIGQUIT, SIGALRM,
                                             SIGTERM, SIGUSR1, SIGUSR2};

// A pipe the interruption waker writes a byte into, so that a wait polling its read end beside
// the device ends the moment a signal comes. Made once per process, before the signal handlers
// are installed; false when the system would not give a pipe (waits then see a signal only when
// the call they are in returns EINTR).
bool armInterruptPipe();

// The read end, readable from the first signal on (it is never drained); -1 before arming.
int interruptPipeFd();

}  // namespace zq::posix
