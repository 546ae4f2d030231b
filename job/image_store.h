#pragma once

#include <cstdint>
#include <memory>

namespace zq {

// The image buffer loadImageFile allocated for the job. The job itself only points at its image,
// which may as well be the built-in one, so the buffer's owner lives beside the job (owned by the
// same front end, declared before it so it outlives every use) and is the only thing that ever
// releases an image. The built-in image is never in here.
struct ImageStore {
    std::unique_ptr<std::uint8_t[]> buffer;
};

}  // namespace zq
