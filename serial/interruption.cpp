#include "serial/interruption.h"

#include <atomic>
#include <utility>

namespace zq::interruption {

namespace {

std::atomic<int> firstSignal{0};
std::atomic<int> signals{0};
std::atomic<Waker> waker{nullptr};
std::atomic<Settler> settler{nullptr};
thread_local Shield* innermost = nullptr;

static_assert(std::atomic<int>::is_always_lock_free,
              "a signal handler may only use lock-free atomics");

}  // namespace

void raise(int signal) noexcept {
    int none = 0;
    firstSignal.compare_exchange_strong(none, signal);
    signals.fetch_add(1);
    if (const Waker wake = waker.load()) {
        wake();
    }
}

int signalNumber() noexcept {
    return firstSignal.load();
}

int count() noexcept {
    return signals.load();
}

bool stopsWaits() {
    const int seen = signals.load();
    if (seen == 0) {
        return false;
    }
    Shield* shield = innermost;
    if (shield == nullptr) {
        return true;
    }
    if (!shield->absorbed_) {
        shield->absorbed_ = true;
        if (seen == 1) {
            if (shield->onFirstSignal_) {
                shield->onFirstSignal_(firstSignal.load());
            }
            return false;
        }
        // Two signals before the shield looked: the second already cuts.
        return true;
    }
    return seen >= 2;
}

Shield::Shield(std::function<void(int)> onFirstSignal)
    : onFirstSignal_(std::move(onFirstSignal)), outer_(innermost) {
    innermost = this;
}

Shield::~Shield() {
    innermost = outer_;
}

bool shielded() {
    return innermost != nullptr;
}

void setWaker(Waker wake) noexcept {
    waker.store(wake);
}

void resetForTests() noexcept {
    firstSignal.store(0);
    signals.store(0);
}

void clearAfterRun() noexcept {
    resetForTests();
    if (const Settler settle = settler.load()) {
        settle();
    }
}

void setSettler(Settler settle) noexcept {
    settler.store(settle);
}

}  // namespace zq::interruption
