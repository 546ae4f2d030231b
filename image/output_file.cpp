#include "image/output_file.h"

#include <optional>
#include <string>
#include <system_error>
#include <utility>

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

bool OutputFile::fail(std::string_view call, SystemError error) {
    outcome_ = fileFailure(FileFault::NotWritten, outcome_.file, call, std::move(error));
    return false;
}

bool OutputFile::create(const std::filesystem::path& path) {
    discard();
    outcome_ = FileOutcome{.file = path};
    if (path.filename().empty()) {
        return fail({}, SystemError{0, "the name ends in a directory, not a file"});
    }
    // The file a link leads to is the one replaced, beside itself, so the link stays and keeps
    // leading to the new bytes.
    const std::optional<std::filesystem::path> target = finalName(path);
    if (!target) {
        return fail({}, SystemError{0, "the links at the name go round in a loop"});
    }
    if (target->filename().empty()) {
        return fail({}, SystemError{0, "the link leads to a directory, not a file"});
    }
    target_ = *target;
    if (writesThrough(target_)) {
        open_ = file_.openExistingForWriting(target_) || fail("open", file_.lastError());
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
                return fail("create", file_.lastError());
        }
    }
    return fail("create", SystemError{0, "no free name beside it for the new file"});
}

SystemFile::Created OutputFile::createNew(const std::filesystem::path& path) {
    discard();
    outcome_ = FileOutcome{.file = path};
    const SystemFile::Created created = file_.createNew(path);
    if (created == SystemFile::Created::Yes) {
        target_ = path;
        written_ = path;
        open_ = true;
    } else if (created == SystemFile::Created::Failed) {
        fail("create", file_.lastError());
    }
    return created;
}

bool OutputFile::write(std::span<const std::uint8_t> bytes) {
    if (!open_) {
        return false;
    }
    if (!file_.write(bytes)) {
        fail("write", file_.lastError());
        discard();
        return false;
    }
    return true;
}

bool OutputFile::commit() {
    if (!open_) {
        return false;
    }
    const bool synced = file_.sync() || fail("sync", file_.lastError());
    const bool closed = file_.close() || (synced && fail("close", file_.lastError()));
    bool placed = synced && closed;
    if (placed && written_ != target_ && !written_.empty()) {
        SystemError error;
        placed = replaceName(written_, target_, error) || fail("rename", std::move(error));
    }
    if (!placed) {
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
