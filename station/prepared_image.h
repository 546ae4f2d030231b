#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "image/image_identity.h"
#include "station/board_settings.h"
#include "station/image_choice.h"

namespace zq::station {

// The image every board of a run gets, checked once before any port is touched.
struct PreparedImage {
    std::vector<std::uint8_t> bytes;
    ImageIdentity identity;
};

// The image chosen, or why it is refused: read, and judged for every phase the operation may run
// (flash's both), before any port is touched.
std::optional<PreparedImage> prepareImage(const ImageChoice& choice, Operation operation,
                                          ImageRefusal& refusal);

}  // namespace zq::station
