#pragma once

#include <string>

namespace zq {

// The current directory as it was when the program started; temporary image files go there.
struct StartupDirectory {
    static constexpr std::size_t MaxLength = 259;  // a 260-character buffer with its terminator
    std::string path;  // empty when the directory could not be read or was too long to hold
};

StartupDirectory recordStartupDirectory();

}  // namespace zq
