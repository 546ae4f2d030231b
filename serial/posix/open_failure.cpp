#include "serial/posix/open_failure.h"

#include <grp.h>
#include <sys/stat.h>

#include <cerrno>
#include <optional>
#include <system_error>
#include <vector>

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

// Serial devices usually belong to a group (dialout, uucp) the user must join; naming it turns
// "Permission denied" into something the user can act on.
std::optional<std::string> owningGroup(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return std::nullopt;
    }
    group entry{};
    group* found = nullptr;
    std::vector<char> buffer(1024);
    while (::getgrgid_r(info.st_gid, &entry, buffer.data(), buffer.size(), &found) == ERANGE) {
        buffer.resize(buffer.size() * 2);
    }
    if (found == nullptr) {
        return std::to_string(info.st_gid);
    }
    return std::string(found->gr_name);
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
        if (const auto groupName = owningGroup(path)) {
            failure.detail += " (the device belongs to group " + *groupName + ")";
            failure.group = *groupName;
        }
    }
    return failure;
}

}  // namespace zq::posix
