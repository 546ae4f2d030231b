#include "image/file_text.h"

#include "image/system_file.h"

namespace zq {

FileText readFileText(const std::filesystem::path& path, std::uint64_t maxLength) {
    FileText result;
    SystemFile file;
    if (!file.openForReading(path)) {
        result.outcome = fileFailure(FileFault::CannotOpen, path, "open", file.lastError());
        return result;
    }
    const auto size = file.size();
    if (!size) {
        result.outcome = fileFailure(FileFault::CannotRead, path, "stat", file.lastError());
        return result;
    }
    if (*size > maxLength) {
        result.outcome = fileFailure(FileFault::TooLarge, path);
        result.outcome.size = *size;
        result.outcome.limit = maxLength;
        return result;
    }
    // One byte more than the size: a file that grew since it was measured is caught, not cut.
    std::string text(static_cast<std::size_t>(*size) + 1, '\0');
    const auto got = file.read(
        {reinterpret_cast<std::uint8_t*>(text.data()), static_cast<std::size_t>(*size) + 1});
    if (!got) {
        result.outcome = fileFailure(FileFault::CannotRead, path, "read", file.lastError());
        return result;
    }
    if (*got > *size) {
        result.outcome = fileFailure(FileFault::CannotRead, path, "read",
                                     SystemError{0, "the file grew while it was read"});
        return result;
    }
    text.resize(*got);
    result.text = std::move(text);
    return result;
}

}  // namespace zq
