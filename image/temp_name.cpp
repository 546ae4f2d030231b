#include "image/temp_name.h"

#include <filesystem>
#include <system_error>

namespace zq {

namespace {

// A name whose lookup fails for any reason counts as free; writing to it will tell.
bool namesSomething(const std::string& name) {
    std::error_code error;
    const auto status = std::filesystem::symlink_status(name, error);
    return !error && status.type() != std::filesystem::file_type::not_found;
}

}  // namespace

bool findFreeTempName(const StartupDirectory& startup, std::string& name) {
    if (startup.path.empty()) {
        return false;
    }
    const std::string stem = startup.path +
                             static_cast<char>(std::filesystem::path::preferred_separator) +
                             "ZQ417Fw_Temp";
    for (char digit = '0'; digit <= '9'; ++digit) {
        std::string candidate = stem + digit;
        if (!namesSomething(candidate)) {
            name = std::move(candidate);
            return true;
        }
    }
    return false;
}

}  // namespace zq
