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
                   ImageStore& store, FileOutcome& outcome) {
    outcome = FileOutcome{.file = fileName};
    const auto fail = [&](std::string_view box, FileFault fault, std::string_view call,
                          SystemError error) {
        window.showMessage(BoxStyle::Error, box);
        outcome.fault = fault;
        outcome.call = call;
        outcome.error = std::move(error);
        return false;
    };
    // A directory, a device or a pipe is no image file: reading one would block, or take a
    // length of zero for a successful load.
    SystemFile file;
    if (!file.openForReading(fileName)) {
        return fail(messages::CannotOpenImageFile, FileFault::CannotOpen, "open", file.lastError());
    }
    const auto size = file.size();
    if (!size) {
        return fail(messages::ReadImageFileFail, FileFault::CannotRead, "stat", file.lastError());
    }
    outcome.size = *size;
    // A length that does not fit is held at the largest one, never cut to its low bits: a 4 GiB
    // file must not pass for an empty image.
    job.imageLength = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(*size, std::numeric_limits<std::uint32_t>::max()));
    releaseImage(job, store);
    if (*size > MaxImageFileLength) {
        outcome.limit = MaxImageFileLength;
        return fail(messages::FirmwareTooLong, FileFault::TooLarge, {}, {});
    }
    const std::size_t bufferSize = static_cast<std::size_t>(*size) + 1;
    store.buffer.reset(new (std::nothrow) std::uint8_t[bufferSize]);
    if (!store.buffer) {
        return fail(messages::MemoryNotEnough, FileFault::NoMemory, {}, {});
    }
    job.image = {store.buffer.get(), bufferSize};

    const auto got = file.read(job.image.first(job.imageLength));
    if (!got || *got != job.imageLength) {
        releaseImage(job, store);
        return fail(messages::ReadImageFileFail, FileFault::CannotRead, "read",
                    got ? SystemError{0, "the file shrank while it was read"} : file.lastError());
    }
    return true;
}

bool loadImageFile(OwnerWindow& window, const std::filesystem::path& fileName, TransferJob& job,
                   ImageStore& store) {
    FileOutcome ignored;
    return loadImageFile(window, fileName, job, store, ignored);
}

}  // namespace zq
