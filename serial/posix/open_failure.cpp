#include "serial/posix/open_failure.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <optional>
#include <system_error>
#include <vector>

#include "serial/port_discovery.h"
#include "serial/posix/access_advice.h"
#include "serial/virtual_boards.h"

namespace zq::posix {

namespace {

OpenFailure::Kind kindOf(int error) {
    switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return OpenFailure::Kind::NoSuchDevice;
        case EACCES:
        case EPERM:
            return OpenFailure::Kind::PermissionDenied;
        case EBUSY:
        case EWOULDBLOCK:
            return OpenFailure::Kind::Busy;
        case ENOTTY:
            return OpenFailure::Kind::NotATerminal;
        default:
            return OpenFailure::Kind::Other;
    }
}

std::string userName(uid_t uid) {
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> buffer(1024);
    while (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == ERANGE) {
        buffer.resize(buffer.size() * 2);
    }
    return found != nullptr ? std::string(found->pw_name) : std::to_string(uid);
}

std::string groupName(gid_t gid) {
    group entry{};
    group* found = nullptr;
    std::vector<char> buffer(1024);
    while (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == ERANGE) {
        buffer.resize(buffer.size() * 2);
    }
    return found != nullptr ? std::string(found->gr_name) : std::to_string(gid);
}

std::optional<DeviceOwnership> ownershipOf(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return std::nullopt;
    }
    return DeviceOwnership{info.st_uid, info.st_gid, info.st_mode, userName(info.st_uid),
                           groupName(info.st_gid)};
}

// The simulator serving a virtual board holds its device all along: it is the board, not a
// program in the way.
long simulatorOf(const std::string& path) {
    std::error_code ec;
    const std::filesystem::path device = std::filesystem::weakly_canonical(path, ec);
    for (const VirtualBoard& board : announcedBoards()) {
        if (!ec && device == board.devicePath) {
            return board.pid;
        }
    }
    return 0;
}

}  // namespace

OpenFailure failureFor(int error, const std::string& path, std::string_view why) {
    OpenFailure failure;
    failure.kind = kindOf(error);
    failure.code = error;
    failure.detail = path + ": ";
    if (!why.empty()) {
        failure.detail += why;
        failure.detail += " (" + std::system_category().message(error) + ")";
    } else {
        failure.detail += std::system_category().message(error);
    }
    if (failure.kind == OpenFailure::Kind::PermissionDenied) {
        // Joining the device's group helps only when the group may read and write it.
        if (const auto owner = ownershipOf(path)) {
            failure.owner = describeOwnership(*owner);
            failure.detail += " (" + failure.owner + ")";
            failure.group = groupToJoin(*owner).value_or("");
        }
    }
    if (failure.kind == OpenFailure::Kind::Busy) {
        failure.holders = findPortUsers(path, "/proc", simulatorOf(path)).holders;
    }
    return failure;
}

}  // namespace zq::posix
