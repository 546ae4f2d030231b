#include "image/image_identity.h"

#include <array>
#include <cstdio>

#ifdef _WIN32
#include "serial/win32/lean_windows.h"
// After windows.h, which it needs.
#include <bcrypt.h>
#else
#include <openssl/evp.h>
#endif

namespace zq {

namespace {

std::string hexOf(std::span<const std::uint8_t> digest) {
    std::string text;
    for (const std::uint8_t b : digest) {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", static_cast<unsigned>(b));
        text += two;
    }
    return text;
}

}  // namespace

std::string sha256Hex(std::span<const std::uint8_t> bytes) {
    std::array<std::uint8_t, 32> digest{};
#ifdef _WIN32
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool ok = BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) >= 0 &&
              BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) >= 0 &&
              BCryptHashData(hash, const_cast<PUCHAR>(bytes.data()),
                             static_cast<ULONG>(bytes.size()), 0) >= 0 &&
              BCryptFinishHash(hash, digest.data(), static_cast<ULONG>(digest.size()), 0) >= 0;
    if (hash != nullptr) {
        BCryptDestroyHash(hash);
    }
    if (algorithm != nullptr) {
        BCryptCloseAlgorithmProvider(algorithm, 0);
    }
#else
    unsigned int length = 0;
    const bool ok = EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_sha256(),
                               nullptr) == 1 &&
                    length == digest.size();
#endif
    return ok ? hexOf(digest) : std::string();
}

}  // namespace zq
