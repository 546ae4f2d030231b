#include "serial/posix/access_advice.h"

#include <sys/stat.h>

namespace zq::posix {

std::optional<std::string> groupToJoin(const DeviceOwnership& owner) {
    const bool groupReadsAndWrites = (owner.mode & S_IRGRP) != 0 && (owner.mode & S_IWGRP) != 0;
    if (!groupReadsAndWrites || owner.gid == 0 || owner.group.empty()) {
        return std::nullopt;
    }
    return owner.group;
}

std::string describeOwnership(const DeviceOwnership& owner) {
    char type = '-';
    if (S_ISCHR(owner.mode)) {
        type = 'c';
    } else if (S_ISBLK(owner.mode)) {
        type = 'b';
    } else if (S_ISDIR(owner.mode)) {
        type = 'd';
    } else if (S_ISLNK(owner.mode)) {
        type = 'l';
    } else if (S_ISFIFO(owner.mode)) {
        type = 'p';
    } else if (S_ISSOCK(owner.mode)) {
        type = 's';
    }
    std::string mode(1, type);
    constexpr std::uint32_t Bits[] = {S_IRUSR, S_IWUSR, S_IXUSR, S_IRGRP, S_IWGRP,
                                      S_IXGRP, S_IROTH, S_IWOTH, S_IXOTH};
    for (std::size_t n = 0; n < 9; ++n) {
        mode += (owner.mode & Bits[n]) != 0 ? "rwx"[n % 3] : '-';
    }
    return "user " + owner.user + ", group " + owner.group + ", mode " + mode;
}

}  // namespace zq::posix
