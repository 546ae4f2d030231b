#pragma once

#include <string>
#include <system_error>

namespace zq {

// What the system said when a call failed: errno or GetLastError, and its text. A code of zero
// means nothing is known.
struct SystemError {
    int code = 0;
    std::string text{};
    // The device went away under the program (an adapter pulled, a line hung up).
    bool deviceGone = false;
    // The call ended because the program was interrupted, not because the port failed.
    bool interrupted = false;

    explicit operator bool() const { return code != 0 || !text.empty(); }
};

// An errno value with the C library's text for it.
inline SystemError errnoError(int code) {
    return SystemError{code, std::generic_category().message(code)};
}

}  // namespace zq
