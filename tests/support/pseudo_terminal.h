#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <string>

namespace zq::test {

// A pseudo-terminal whose slave side stands for a serial device: a character device with a
// number of its own. `path` stays empty when the system would not make one.
struct PseudoTerminal {
    PseudoTerminal() {
        std::array<char, 128> name{};
        if (master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0 &&
            ::ptsname_r(master, name.data(), name.size()) == 0) {
            path = name.data();
        }
    }
    ~PseudoTerminal() {
        if (master >= 0) {
            ::close(master);
        }
    }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    std::string path;
};

}  // namespace zq::test
