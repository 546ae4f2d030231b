#include "image/save_image.h"

#include "image/boot_header.h"
#include "image/output_file.h"

namespace zq {

bool saveImageAsBin(const TransferJob& job, const std::filesystem::path& fileName, bool withHeader,
                    FileOutcome& outcome) {
    // A job whose load failed has a length but no bytes; there is nothing to save then.
    if (job.imageLength > job.image.size()) {
        outcome = fileFailure(FileFault::NotWritten, fileName, {},
                              SystemError{0, "no image is held to save"});
        return false;
    }
    OutputFile out;
    const bool saved = out.create(fileName) &&
                       (!withHeader || hasBootHeader(job.image.data(), job.imageLength) ||
                        out.write(BootHeader)) &&
                       (job.imageLength == 0 || out.write(job.image.first(job.imageLength))) &&
                       out.commit();
    outcome = saved ? FileOutcome{} : out.outcome();
    return saved;
}

bool saveImageAsBin(const TransferJob& job, const std::filesystem::path& fileName,
                    bool withHeader) {
    FileOutcome ignored;
    return saveImageAsBin(job, fileName, withHeader, ignored);
}

}  // namespace zq
