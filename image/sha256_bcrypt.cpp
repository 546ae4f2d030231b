#include "image/image_identity.h"
#include "job/win32/lean_windows.h"

#include <bcrypt.h>

#include <limits>

namespace zq {

namespace {

// The one-call BCryptHash needs Windows 10; the hash object calls work on every system the
// programs run on. A null hash object lets the system allocate its own.
bool digestOf(BCRYPT_ALG_HANDLE algorithm, std::span<const std::uint8_t> bytes,
              UCHAR (&digest)[32]) {
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (!BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0))) {
        return false;
    }
    // BCryptHashData takes a non-const input pointer but only reads through it.
    const bool done = BCRYPT_SUCCESS(BCryptHashData(hash, const_cast<PUCHAR>(bytes.data()),
                                                    static_cast<ULONG>(bytes.size()), 0)) &&
                      BCRYPT_SUCCESS(BCryptFinishHash(hash, digest, sizeof digest, 0));
    BCryptDestroyHash(hash);
    return done;
}

}  // namespace

std::string sha256Hex(std::span<const std::uint8_t> bytes) {
    if (bytes.size() > std::numeric_limits<ULONG>::max()) {
        return {};
    }
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!BCRYPT_SUCCESS(
            BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
        return {};
    }
    UCHAR digest[32];
    const bool done = digestOf(algorithm, bytes, digest);
    BCryptCloseAlgorithmProvider(algorithm, 0);
    if (!done) {
        return {};
    }
    std::string hex;
    for (const UCHAR d : digest) {
        hex += "0123456789abcdef"[d >> 4];
        hex += "0123456789abcdef"[d & 0x0F];
    }
    return hex;
}

}  // namespace zq
