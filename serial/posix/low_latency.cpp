#include "serial/posix/low_latency.h"

#include <linux/serial.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>

namespace zq::posix {

SerialFlagsAccess serialFlagsOf(int fd) {
    // The rest of serial_struct goes back exactly as read: only the flag changes.
    return {
        .read =
            [fd](int& flags) {
                serial_struct info{};
                if (::ioctl(fd, TIOCGSERIAL, &info) != 0) {
                    return errno;
                }
                flags = info.flags;
                return 0;
            },
        .write =
            [fd](int flags) {
                serial_struct info{};
                if (::ioctl(fd, TIOCGSERIAL, &info) != 0) {
                    return errno;
                }
                info.flags = flags;
                return ::ioctl(fd, TIOCSSERIAL, &info) != 0 ? errno : 0;
            },
    };
}

LowLatency switchOnLowLatency(const SerialFlagsAccess& access) {
    LowLatency state;
    if (const int error = access.read(state.flagsFound); error != 0) {
        state.note = std::string(
                         "low-latency mode unavailable: the driver does not take serial "
                         "settings (") +
                     std::strerror(error) + "); small replies may come late";
        return state;
    }
    if ((state.flagsFound & ASYNC_LOW_LATENCY) != 0) {
        state.note = "low-latency mode already on";
        return state;
    }
    if (const int error = access.write(state.flagsFound | ASYNC_LOW_LATENCY); error != 0) {
        state.note = std::string("low-latency mode refused by the driver (") +
                     std::strerror(error) + "); small replies may come late";
        return state;
    }
    state.switchedOn = true;
    state.note = "low-latency mode on";
    return state;
}

bool putBackLowLatency(const SerialFlagsAccess& access, const LowLatency& state) {
    if (!state.switchedOn) {
        return true;
    }
    return access.write(state.flagsFound) == 0;
}

}  // namespace zq::posix
