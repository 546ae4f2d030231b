#pragma once

#include <functional>

namespace zq::interruption {

// One record for the whole process: a signal (or, on Windows, a console event) interrupts every
// operation running in it. Each operation lives on a thread of its own, so whether an operation
// may be cut short is a property of its thread (see Shield).

// Notes a signal. Async-signal-safe: only atomics and the waker are touched.
void raise(int signal) noexcept;

// The first signal noted, or 0.
int signalNumber() noexcept;
// How many signals have been noted.
int count() noexcept;

// Whether the calling thread's waits must end now: after the first signal, or after the second
// while a shield stands. Lets the thread's shield notice a signal it has not seen yet.
bool stopsWaits();

// While a shield stands on a thread, the first signal is only noticed (the callback runs once,
// on that thread, from inside the wait that saw it) and the thread's waits go on; a second
// signal cuts them. For a stage that must not be abandoned half-way, such as a board programming
// its memory.
class Shield {
  public:
    explicit Shield(std::function<void(int signal)> onFirstSignal);
    ~Shield();
    Shield(const Shield&) = delete;
    Shield& operator=(const Shield&) = delete;

    // Whether the first signal came while this shield stood.
    bool absorbedFirst() const { return absorbed_; }

  private:
    friend bool stopsWaits();
    std::function<void(int)> onFirstSignal_;
    bool absorbed_ = false;
    Shield* outer_;
};

// Whether a shield stands on the calling thread; a shielded wait looks at the count in short
// slices rather than waking on the waker alone.
bool shielded();

// Called, from the signal handler, after each signal is noted: the backend wakes its waits with
// it. Must be async-signal-safe. One waker per process; set it before signals can come.
using Waker = void (*)() noexcept;
void setWaker(Waker waker) noexcept;

// Forgets every signal noted; for tests that interrupt an operation and go on.
void resetForTests() noexcept;

// Forgets every signal noted and has the backend empty what its waker filled, so that the next
// run starts afresh: for a window whose Stop raised the interruption, once nothing that saw it
// runs any more.
void clearAfterRun() noexcept;
// Called by clearAfterRun: empties what the waker filled (the backend's wake pipe).
using Settler = void (*)() noexcept;
void setSettler(Settler settler) noexcept;

}  // namespace zq::interruption
