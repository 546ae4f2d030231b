#include "image/file_text.h"

#include "image/system_file.h"

namespace zq {

FileText readFileText(const std::filesystem::path& path, std::uint64_t maxLength) {
    FileText result;
    SystemFile file;
    if (!file.openForReading(path)) {
        return result;
    }
    const auto size = file.size();
    if (!size) {
        return result;
    }
    if (*size > maxLength) {
        result.status = FileText::Status::TooLarge;
        return result;
    }
    // One byte more than the size: a file that grew since it was measured is caught, not cut.
    std::string text(static_cast<std::size_t>(*size) + 1, '\0');
    const auto got = file.read(
        {reinterpret_cast<std::uint8_t*>(text.data()), static_cast<std::size_t>(*size) + 1});
    if (!got || *got > *size) {
        return result;
    }
    text.resize(*got);
    result.status = FileText::Status::Read;
    result.text = std::move(text);
    return result;
}

}  // namespace zq
