#include <sys/stat.h>

#include <filesystem>
#include <system_error>

#include "serial/port_names.h"

namespace zq {

namespace {

// The device number of a character device; nothing for anything else or what cannot be looked
// at. stat follows symlinks, so a by-id link and its /dev/ttyUSBn meet here.
std::optional<dev_t> characterDevice(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) {
        return std::nullopt;
    }
    return info.st_rdev;
}

std::filesystem::path canonical(const std::string& path) {
    std::error_code ec;
    std::filesystem::path resolved = std::filesystem::weakly_canonical(path, ec);
    return ec ? std::filesystem::path(path).lexically_normal() : resolved;
}

}  // namespace

PortNaming nativePortNaming() {
    return PortNaming::Posix;
}

bool sameDevice(std::string_view a, std::string_view b) {
    const std::string first = devicePath(a, PortNaming::Posix);
    const std::string second = devicePath(b, PortNaming::Posix);
    const std::optional<dev_t> firstDevice = characterDevice(first);
    const std::optional<dev_t> secondDevice = characterDevice(second);
    if (firstDevice && secondDevice) {
        return *firstDevice == *secondDevice;
    }
    return canonical(first) == canonical(second);
}

}  // namespace zq
