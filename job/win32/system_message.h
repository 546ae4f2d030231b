#pragma once

#include <string>
#include <string_view>

#include "job/win32/lean_windows.h"

namespace zq {

// The system's text for a GetLastError code, with the trailing characters in `trailing` taken
// off: the texts end in a line break, which would split the line they are put into.
inline std::string systemMessage(DWORD code, std::string_view trailing = " \t\n\v\f\r") {
    char text[512] = {};
    const DWORD length =
        ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                         0, text, sizeof text, nullptr);
    const std::string_view message(text, length);
    const std::size_t end = message.find_last_not_of(trailing);
    return end == std::string_view::npos ? "system error" : std::string(message.substr(0, end + 1));
}

}  // namespace zq
