#include "image/built_in_image.h"

namespace zq {

namespace detail {
extern std::uint8_t builtInImageStorage[BuiltInImageLength + 1];
}

std::uint8_t* builtInImage() {
    return detail::builtInImageStorage;
}

void useBuiltInImage(TransferJob& job) {
    job.image = detail::builtInImageStorage;
    job.imageLength = BuiltInImageLength;
}

}  // namespace zq
