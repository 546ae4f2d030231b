#include "image/output_file.h"

#include <optional>
#include <string>
#include <system_error>

namespace zq {

namespace {

constexpr int NewNameTries = 100;

// Hidden beside the output, so the rename stays within one file system.
std::filesystem::path newNameBeside(const std::filesystem::path& path, int attempt) {
    return path.parent_path() /
           ("." + path.filename().string() + ".zq417-" + std::to_string(attempt) + ".part");
}

// Devices and pipes take the bytes as they come; everything else (nothing, a file) is replaced
// by a renamed new file.
bool writesThrough(const std::filesystem::path& path) {
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    return !error && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status) &&
           !std::filesystem::is_directory(status);
}

}  // namespace

OutputFile::~OutputFile() {
    if (open_) {
        discard();
    }
}

bool OutputFile::create(const std::filesystem::path& path) {
    discard();
    if (path.filename().empty()) {
        return false;
    }
    // The file a link leads to is the one replaced, beside itself, so the link stays and keeps
    // leading to the new bytes.
    const std::optional<std::filesystem::path> target = finalName(path);
    if (!target || target->filename().empty()) {
        return false;
    }
    target_ = *target;
    if (writesThrough(target_)) {
        open_ = file_.openExistingForWriting(target_);
        return open_;
    }
    for (int attempt = 0; attempt < NewNameTries; ++attempt) {
        const std::filesystem::path candidate = newNameBeside(target_, attempt);
        switch (file_.createNew(candidate)) {
            case SystemFile::Created::Yes:
                written_ = candidate;
                open_ = true;
                file_.takePermissionsOf(target_);
                return true;
            case SystemFile::Created::NameTaken:
                continue;
            case SystemFile::Created::Failed:
                return false;
        }
    }
    return false;
}

SystemFile::Created OutputFile::createNew(const std::filesystem::path& path) {
    discard();
    const SystemFile::Created created = file_.createNew(path);
    if (created == SystemFile::Created::Yes) {
        target_ = path;
        written_ = path;
        open_ = true;
    }
    return created;
}

bool OutputFile::write(std::span<const std::uint8_t> bytes) {
    if (!open_) {
        return false;
    }
    if (!file_.write(bytes)) {
        discard();
        return false;
    }
    return true;
}

bool OutputFile::commit() {
    if (!open_) {
        return false;
    }
    const bool synced = file_.sync();
    const bool closed = file_.close();
    if (!synced || !closed ||
        (written_ != target_ && !written_.empty() && !replaceName(written_, target_))) {
        discard();
        return false;
    }
    if (!written_.empty()) {
        syncDirectory(target_.parent_path());
    }
    open_ = false;
    written_.clear();
    return true;
}

void OutputFile::discard() {
    file_.close();
    if (open_ && !written_.empty()) {
        std::error_code ignored;
        std::filesystem::remove(written_, ignored);
    }
    open_ = false;
    written_.clear();
}

bool namesSameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
    std::error_code error;
    return std::filesystem::equivalent(a, b, error) && !error;
}

}  // namespace zq
