#include "image/load_image_file.h"

#include <algorithm>
#include <limits>
#include <new>

#include "image/system_file.h"
#include "text/messages.h"

namespace zq {

namespace {

void releaseImage(TransferJob& job, ImageStore& store) {
    store.buffer.reset();
    job.image = {};
}

}  // namespace

bool loadImageFile(OwnerWindow& window, const std::filesystem::path& fileName, TransferJob& job,
                   ImageStore& store) {
    // A directory, a device or a pipe is no image file: reading one would block, or take a
    // length of zero for a successful load.
    SystemFile file;
    if (!file.openForReading(fileName)) {
        window.showMessage(BoxStyle::Error, messages::CannotOpenImageFile);
        return false;
    }
    const auto size = file.size();
    if (!size) {
        window.showMessage(BoxStyle::Error, messages::ReadImageFileFail);
        return false;
    }
    // A length that does not fit is held at the largest one, never cut to its low bits: a 4 GiB
    // file must not pass for an empty image.
    job.imageLength = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(*size, std::numeric_limits<std::uint32_t>::max()));
    releaseImage(job, store);
    if (*size > MaxImageFileLength) {
        window.showMessage(BoxStyle::Error, messages::FirmwareTooLong);
        return false;
    }
    const std::size_t bufferSize = static_cast<std::size_t>(*size) + 1;
    store.buffer.reset(new (std::nothrow) std::uint8_t[bufferSize]);
    if (!store.buffer) {
        window.showMessage(BoxStyle::Error, messages::MemoryNotEnough);
        return false;
    }
    job.image = {store.buffer.get(), bufferSize};

    const auto got = file.read(job.image.first(job.imageLength));
    if (!got || *got != job.imageLength) {
        window.showMessage(BoxStyle::Error, messages::ReadImageFileFail);
        releaseImage(job, store);
        return false;
    }
    return true;
}

}  // namespace zq
