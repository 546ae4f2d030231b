#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace zq {

// What tells one image from another in a log: the file it came from, its length and its digest.
struct ImageIdentity {
    std::string name;
    std::uint32_t length = 0;
    std::string sha256;
};

// The SHA-256 of the bytes as 64 lowercase hex digits.
std::string sha256Hex(std::span<const std::uint8_t> bytes);

}  // namespace zq
