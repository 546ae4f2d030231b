#include "image/image_identity.h"

#include <utility>

namespace zq {

ImageIdentity identifyImage(std::string name, std::span<const std::uint8_t> bytes) {
    return {std::move(name), static_cast<std::uint32_t>(bytes.size()), sha256Hex(bytes)};
}

}  // namespace zq
