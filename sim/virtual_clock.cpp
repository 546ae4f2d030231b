#include "sim/virtual_clock.h"

namespace zq::sim {

void VirtualClock::advanceTo(SimTime t) {
    if (t > now_) {
        now_ = t;
    }
}

SimTime byteTime(unsigned baud) {
    return byteDone(SimTime{0}, baud, 1);
}

SimTime byteDone(SimTime start, unsigned baud, long long k) {
    if (baud == 0) {
        return start;  // a line without transmission delay
    }
    constexpr long long BitsPerByte = 10;
    constexpr long long NanosPerSecond = 1'000'000'000;
    return start + SimTime(k * BitsPerByte * NanosPerSecond / baud);
}

}  // namespace zq::sim
