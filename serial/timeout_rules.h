#pragma once

#include <chrono>
#include <cstddef>
#include <optional>

#include "serial/comm_settings.h"

namespace zq {

// How long one read call may take under COMMTIMEOUTS, with the Win32 meaning: a total limit
// counted from the call, and after the first byte an interval limit between bytes. Every
// backend, the simulated line included, asks this one place.
struct ReadTimeoutRule {
    std::optional<std::chrono::milliseconds> total;     // none: no total limit
    std::optional<std::chrono::milliseconds> interval;  // none: no limit between bytes
    bool returnAtOnce = false;                          // take what is buffered and return
    bool returnOnFirstBytes = false;  // wait up to `total` for anything, return what came

    static ReadTimeoutRule forRead(const CommTimeouts& timeouts, std::size_t length);
};

// A write call may take up to multiplier * n + constant; none when both are zero.
std::optional<std::chrono::milliseconds> writeTimeLimit(const CommTimeouts& timeouts,
                                                        std::size_t length);

}  // namespace zq
