#include <openssl/evp.h>

#include "image/image_identity.h"

namespace zq {

std::string sha256Hex(std::span<const std::uint8_t> bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr) != 1) {
        return {};
    }
    std::string hex;
    for (unsigned int n = 0; n < length; ++n) {
        hex += "0123456789abcdef"[digest[n] >> 4];
        hex += "0123456789abcdef"[digest[n] & 0x0F];
    }
    return hex;
}

}  // namespace zq
