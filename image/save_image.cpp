#include "image/save_image.h"

#include "image/boot_header.h"
#include "image/output_file.h"

namespace zq {

bool saveImageAsBin(const TransferJob& job, const std::filesystem::path& fileName,
                    bool withHeader) {
    OutputFile out;
    if (!out.create(fileName)) {
        return false;
    }
    // A job whose load failed has a length but no bytes; there is nothing to save then.
    if (job.image == nullptr && job.imageLength != 0) {
        return false;
    }
    if (withHeader && !hasBootHeader(job.image, job.imageLength) && !out.write(BootHeader)) {
        return false;
    }
    if (job.imageLength != 0 && !out.write({job.image, job.imageLength})) {
        return false;
    }
    return out.commit();
}

}  // namespace zq
