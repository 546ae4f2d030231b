#pragma once

#include <chrono>

namespace zq::sim {

using SimTime = std::chrono::nanoseconds;  // since the start of the simulation

// Time that moves only when the simulation says so: sleeps and timeouts cost nothing real.
class VirtualClock {
  public:
    SimTime now() const { return now_; }
    void advanceTo(SimTime t);
    void advanceBy(SimTime d) { advanceTo(now_ + d); }

  private:
    SimTime now_{0};
};

// Time a byte takes on the line: a start bit, eight data bits and a stop bit.
SimTime byteTime(unsigned baud);
// When the k-th byte (1-based) of a run starting at `start` has fully crossed the line; computed
// from the start each time so that rounding does not add up over a long run.
SimTime byteDone(SimTime start, unsigned baud, long long k);

}  // namespace zq::sim
