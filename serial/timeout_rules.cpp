#include "serial/timeout_rules.h"

namespace zq {

ReadTimeoutRule ReadTimeoutRule::forRead(const CommTimeouts& t, std::size_t length) {
    using std::chrono::milliseconds;
    ReadTimeoutRule rule;
    if (t.readIntervalTimeout == TimeoutMaxDword) {
        if (t.readTotalTimeoutMultiplier == 0 && t.readTotalTimeoutConstant == 0) {
            rule.returnAtOnce = true;
            return rule;
        }
        if (t.readTotalTimeoutMultiplier == TimeoutMaxDword && t.readTotalTimeoutConstant != 0 &&
            t.readTotalTimeoutConstant != TimeoutMaxDword) {
            rule.returnOnFirstBytes = true;
            rule.total = milliseconds(t.readTotalTimeoutConstant);
            return rule;
        }
    } else if (t.readIntervalTimeout != 0) {
        rule.interval = milliseconds(t.readIntervalTimeout);
    }
    if (t.readTotalTimeoutMultiplier != 0 || t.readTotalTimeoutConstant != 0) {
        const auto multiplier = static_cast<long long>(t.readTotalTimeoutMultiplier);
        rule.total = milliseconds(multiplier * static_cast<long long>(length) +
                                  static_cast<long long>(t.readTotalTimeoutConstant));
    }
    return rule;
}

std::optional<std::chrono::milliseconds> writeTimeLimit(const CommTimeouts& t, std::size_t length) {
    if (t.writeTotalTimeoutMultiplier == 0 && t.writeTotalTimeoutConstant == 0) {
        return std::nullopt;
    }
    const auto multiplier = static_cast<long long>(t.writeTotalTimeoutMultiplier);
    return std::chrono::milliseconds(multiplier * static_cast<long long>(length) +
                                     static_cast<long long>(t.writeTotalTimeoutConstant));
}

}  // namespace zq
