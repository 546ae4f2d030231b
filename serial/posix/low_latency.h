#pragma once

#include <functional>
#include <string>

namespace zq::posix {

// The driver's serial flags (serial_struct.flags) as TIOCGSERIAL and TIOCSSERIAL see them,
// behind functions so that tests can stand in for a driver. Each returns 0 or an errno value.
struct SerialFlagsAccess {
    std::function<int(int& flags)> read;
    std::function<int(int flags)> write;
};

SerialFlagsAccess serialFlagsOf(int fd);

// What switching low-latency mode on found and did.
struct LowLatency {
    bool switchedOn = false;  // this program set the flag and owes its restore
    int flagsFound = 0;
    std::string note{};  // for the trace: what happened, above all when the driver refused
};

// USB serial adapters hold small replies back for up to their latency timer (16 ms on common
// chips) unless the driver is asked for low latency; a port that already has it, or whose driver
// has no such setting (a pty), is left as it is.
LowLatency switchOnLowLatency(const SerialFlagsAccess& access);

// Puts back the flags found, when this program changed them; false when the driver refused.
bool putBackLowLatency(const SerialFlagsAccess& access, const LowLatency& state);

}  // namespace zq::posix
