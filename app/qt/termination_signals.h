#pragma once

#include <csignal>
#include <functional>
#include <iterator>

#include <QSocketNotifier>

#include "serial/posix/interrupt_pipe.h"

namespace zq::qt {

// Turns each signal that would end the process into an interruption and a call on the window's
// thread. The handler notes the signal in the process's interruption record (the port's waits
// end at once) and writes a byte to a socket pair; the notifier on the other end calls
// `onSignal` from the event loop, so the window ends through its own path, with the port handed
// back. SIGPIPE is ignored. One instance at a time.
class TerminationSignals {
  public:
    explicit TerminationSignals(std::function<void()> onSignal);
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

  private:
    void drain();

    std::function<void()> onSignal_;
    int sockets_[2] = {-1, -1};
    // Each signal's action before, put back at the end; SIGPIPE's last.
    struct sigaction previous_[std::size(posix::TerminatingSignals) + 1] = {};
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace zq::qt
