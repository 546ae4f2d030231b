#include "image/output_file.h"

#include <system_error>

namespace zq {

namespace {

// Only a file of our own making is removed: an output named as a device (/dev/null, a terminal)
// must survive a failed write, whoever runs the tool.
void removeIfRegular(const std::filesystem::path& path) {
    std::error_code error;
    if (std::filesystem::is_regular_file(std::filesystem::status(path, error))) {
        std::filesystem::remove(path, error);
    }
}

}  // namespace

OutputFile::~OutputFile() {
    if (open_) {
        discard();
    }
}

bool OutputFile::create(const std::filesystem::path& path) {
    path_ = path;
    out_.open(path, std::ios::binary | std::ios::out | std::ios::trunc);
    open_ = out_.is_open();
    return open_;
}

bool OutputFile::write(std::span<const std::uint8_t> bytes) {
    if (!open_) {
        return false;
    }
    out_.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return out_.good();
}

bool OutputFile::commit() {
    if (!open_) {
        return false;
    }
    out_.flush();
    out_.close();
    open_ = false;
    if (out_.fail()) {
        removeIfRegular(path_);
        return false;
    }
    return true;
}

void OutputFile::discard() {
    out_.close();
    open_ = false;
    removeIfRegular(path_);
}

}  // namespace zq
