#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace zq {

// Which image a run sends: enough to tell two images apart and to check the bytes elsewhere.
struct ImageIdentity {
    std::string name;  // the file name as given, or "built-in"
    std::uint32_t length = 0;
    std::string sha256;  // of the image bytes as the job holds them: before pad and boot header
};

// The SHA-256 of the bytes as 64 lower-case hex digits, from the system's own cryptography
// library; empty in the unlikely case that the library fails.
std::string sha256Hex(std::span<const std::uint8_t> bytes);

// "Image: NAME, N bytes, SHA-256 ...": which image a run sends, the name as given (a front end
// makes it printable).
std::string identityLine(const ImageIdentity& identity);

ImageIdentity identifyImage(std::string name, std::span<const std::uint8_t> bytes);

}  // namespace zq
