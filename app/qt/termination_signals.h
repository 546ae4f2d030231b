#pragma once

#include <csignal>
#include <functional>

#include <QSocketNotifier>

namespace zq::qt {

// Turns SIGTERM and SIGHUP into a call on the window's thread: the handler only writes a byte to
// a socket pair, and the notifier on the other end calls `onSignal` from the event loop, so the
// window ends through its own path, with the port handed back. One instance at a time.
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
    struct sigaction previous_[2] = {};  // SIGTERM's and SIGHUP's, put back at the end
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace zq::qt
