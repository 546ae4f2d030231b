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

std::string tempStem(const StartupDirectory& startup) {
    return startup.path + static_cast<char>(std::filesystem::path::preferred_separator) +
           "ZQ417Fw_Temp";
}

}  // namespace

bool findFreeTempName(const StartupDirectory& startup, std::string& name) {
    if (startup.path.empty()) {
        return false;
    }
    const std::string stem = tempStem(startup);
    for (char digit = '0'; digit <= '9'; ++digit) {
        std::string candidate = stem + digit;
        if (!namesSomething(candidate)) {
            name = std::move(candidate);
            return true;
        }
    }
    return false;
}

SystemFile::Created createFreeTempFile(const StartupDirectory& startup, OutputFile& out,
                                       std::string& name) {
    if (startup.path.empty()) {
        return SystemFile::Created::NameTaken;
    }
    const std::string stem = tempStem(startup);
    for (char digit = '0'; digit <= '9'; ++digit) {
        std::string candidate = stem + digit;
        const SystemFile::Created created = out.createNew(candidate);
        if (created != SystemFile::Created::NameTaken) {
            name = std::move(candidate);
            return created;
        }
    }
    return SystemFile::Created::NameTaken;
}

}  // namespace zq
