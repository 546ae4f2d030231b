#pragma once

// Never together with <termios.h>.
#include <asm/termbits.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>

namespace zq::test {

// The line as the next program to open the device finds it: its settings, byte for byte, and
// whether it is still held exclusively.
struct PortSnapshot {
    termios2 line{};
    int exclusive = -1;
};

inline std::optional<PortSnapshot> snapshot(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        // Left exclusive, the device refuses everyone but root.
        return errno == EBUSY ? std::optional<PortSnapshot>(PortSnapshot{{}, 1}) : std::nullopt;
    }
    PortSnapshot found;
    const bool ok =
        ::ioctl(fd, TCGETS2, &found.line) == 0 && ::ioctl(fd, TIOCGEXCL, &found.exclusive) == 0;
    ::close(fd);
    return ok ? std::optional<PortSnapshot>(found) : std::nullopt;
}

inline void expectAsFound(const std::string& device, const PortSnapshot& before) {
    const std::optional<PortSnapshot> after = snapshot(device);
    ASSERT_TRUE(after.has_value());
    EXPECT_EQ(after->exclusive, 0);
    EXPECT_EQ(std::memcmp(&before.line, &after->line, sizeof before.line), 0)
        << "speed " << before.line.c_ospeed << " became " << after->line.c_ospeed;
}

}  // namespace zq::test
