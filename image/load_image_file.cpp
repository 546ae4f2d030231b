#include "image/load_image_file.h"

#include <algorithm>
#include <fstream>
#include <limits>
#include <new>
#include <system_error>

#include "text/messages.h"

namespace zq {

namespace {

constexpr std::uint64_t MaxLength = std::numeric_limits<std::uint32_t>::max();

void releaseImage(TransferJob& job, ImageStore& store) {
    store.buffer.reset();
    job.image = nullptr;
}

}  // namespace

bool loadImageFile(OwnerWindow& window, const std::filesystem::path& fileName, TransferJob& job,
                   ImageStore& store) {
    // A directory, a device or a pipe is no image file: reading one would block, or take a
    // length of zero for a successful load.
    std::error_code error;
    std::ifstream in;
    if (std::filesystem::is_regular_file(fileName, error)) {
        in.open(fileName, std::ios::binary);
    }
    if (!in.is_open()) {
        window.showMessage(BoxStyle::Error, messages::CannotOpenImageFile);
        return false;
    }
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    in.seekg(0, std::ios::beg);
    if (size < 0 || !in) {
        window.showMessage(BoxStyle::Error, messages::ReadImageFileFail);
        return false;
    }
    const auto fileSize = static_cast<std::uint64_t>(size);
    // A length that does not fit is held at the largest one, never cut to its low bits: a 4 GiB
    // file must not pass for an empty image.
    job.imageLength = static_cast<std::uint32_t>(std::min(fileSize, MaxLength));
    releaseImage(job, store);

    // The largest length has no room for the pad byte: its size + 1 would wrap around to an
    // empty buffer that the read then overruns.
    if (fileSize >= MaxLength) {
        window.showMessage(BoxStyle::Error, messages::MemoryNotEnough);
        return false;
    }
    const std::size_t bufferSize = static_cast<std::size_t>(fileSize) + 1;
    store.buffer.reset(new (std::nothrow) std::uint8_t[bufferSize]);
    if (!store.buffer) {
        window.showMessage(BoxStyle::Error, messages::MemoryNotEnough);
        return false;
    }
    job.image = store.buffer.get();

    in.read(reinterpret_cast<char*>(job.image), static_cast<std::streamsize>(fileSize));
    if (static_cast<std::uint64_t>(in.gcount()) != fileSize) {
        window.showMessage(BoxStyle::Error, messages::ReadImageFileFail);
        releaseImage(job, store);
        return false;
    }
    return true;
}

}  // namespace zq
