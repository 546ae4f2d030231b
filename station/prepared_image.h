#pragma once

#include <cstdint>
#include <vector>

#include "image/image_identity.h"

namespace zq::station {

// The image every board of a run gets, checked once before any port is touched.
struct PreparedImage {
    std::vector<std::uint8_t> bytes;
    ImageIdentity identity;
};

}  // namespace zq::station
