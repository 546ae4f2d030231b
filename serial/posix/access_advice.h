#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zq::posix {

// Who owns a device and what its mode grants, as stat() and the user and group databases say.
struct DeviceOwnership {
    std::uint32_t uid = 0;
    std::uint32_t gid = 0;
    std::uint32_t mode = 0;  // st_mode: the file type and the permission bits
    std::string user;        // the names, or the numbers when the databases know none
    std::string group;
};

// The group whose membership would let the user read and write the device: only a group the
// mode grants both to, and never root's group (joining that is no advice to give).
std::optional<std::string> groupToJoin(const DeviceOwnership& owner);

// "user root, group root, mode crw-------": the facts an administrator needs.
std::string describeOwnership(const DeviceOwnership& owner);

}  // namespace zq::posix
