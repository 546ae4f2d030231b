#include "image/image_identity.h"

#include <utility>

namespace zq {

ImageIdentity identifyImage(std::string name, std::span<const std::uint8_t> bytes) {
    return {std::move(name), static_cast<std::uint32_t>(bytes.size()), sha256Hex(bytes)};
}

std::string identityLine(const ImageIdentity& identity) {
    return "Image: " + identity.name + ", " + std::to_string(identity.length) +
           " bytes, SHA-256 of these bytes (before pad and boot header) " + identity.sha256;
}

}  // namespace zq
