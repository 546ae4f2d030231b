#include "image/save_image.h"

#include "image/boot_header.h"
#include "image/output_file.h"

namespace zq {

bool saveImageAsBin(const TransferJob& job, const std::filesystem::path& fileName,
                    bool withHeader) {
    // A job whose load failed has a length but no bytes; there is nothing to save then.
    if (job.imageLength > job.image.size()) {
        return false;
    }
    OutputFile out;
    if (!out.create(fileName)) {
        return false;
    }
    if (withHeader && !hasBootHeader(job.image.data(), job.imageLength) && !out.write(BootHeader)) {
        return false;
    }
    if (job.imageLength != 0 && !out.write(job.image.first(job.imageLength))) {
        return false;
    }
    return out.commit();
}

}  // namespace zq
