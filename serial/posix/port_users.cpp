#include <filesystem>
#include <fstream>
#include <system_error>

#include "serial/port_discovery.h"

namespace zq {

namespace fs = std::filesystem;

PortUsers findPortUsers(const std::string& devicePath, const std::string& procRoot,
                        long ignoredPid) {
    PortUsers users;
    std::error_code ec;
    const fs::path device = fs::weakly_canonical(devicePath, ec);
    if (ec) {
        return users;
    }
    users.complete = true;
    for (fs::directory_iterator pids(procRoot, ec), end; !ec && pids != end; pids.increment(ec)) {
        const std::string pid = pids->path().filename().string();
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos ||
            pid == std::to_string(ignoredPid)) {
            continue;
        }
        std::error_code fdError;
        bool holds = false;
        for (fs::directory_iterator fds(pids->path() / "fd", fdError), fdEnd;
             !fdError && fds != fdEnd && !holds; fds.increment(fdError)) {
            std::error_code linkError;
            holds = fs::read_symlink(fds->path(), linkError) == device && !linkError;
        }
        // Another user's descriptors are closed to us unless we are root; a process that ended
        // meanwhile is no loss.
        if (fdError && fdError != std::errc::no_such_file_or_directory) {
            users.complete = false;
        }
        if (holds) {
            std::ifstream comm(pids->path() / "comm");
            std::string name;
            std::getline(comm, name);
            users.holders.push_back(name.empty() ? pid : pid + " (" + name + ")");
        }
    }
    if (ec) {
        users.complete = false;
    }
    return users;
}

}  // namespace zq
