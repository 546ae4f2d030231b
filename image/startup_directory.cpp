#include "image/startup_directory.h"

#include <filesystem>
#include <system_error>

namespace zq {

StartupDirectory recordStartupDirectory() {
    StartupDirectory startup;
    std::error_code error;
    std::string path = std::filesystem::current_path(error).string();
    // A path that does not fit is not cut short: a truncated path would name another directory.
    if (!error && path.size() <= StartupDirectory::MaxLength) {
        startup.path = std::move(path);
    }
    return startup;
}

}  // namespace zq
