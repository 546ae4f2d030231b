#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace zq {

// Chooses the wording of messages only; the protocol steps do not depend on it.
enum TransferMode : std::uint8_t {
    ModeDownload = 1,
    ModeUpdate = 2,
    ModeAdvancedDownload = 3,
};

// Chooses the line speed and the handshake outcome a phase needs.
enum TransferPhase : std::uint8_t {
    PhaseDownload = 1,
    PhaseUpdate = 2,
};

inline constexpr std::uint32_t LineSpeed = 14400;
inline constexpr std::uint32_t ImageCapacity = 8192;

// What one operation transfers. The front end fills it; the phases only read it, apart from the
// pad byte they store just past an odd-length image, and only when `image` has room for it.
struct TransferJob {
    TransferMode mode = ModeDownload;
    std::string portName{};  // "COM1".."COM4", or a device path
    std::uint32_t downloadBaud = 0;
    std::uint32_t updateBaud = 0;
    std::uint32_t capacity = 0;
    std::uint32_t reserved = 0;  // never set; subtracted from capacity in the size test
    // The whole writable storage the image starts at: the image is its first imageLength bytes,
    // and a byte beyond them, when there is one, takes the even-length pad. No storage (a null
    // data pointer) means there is no image.
    std::span<std::uint8_t> image{};
    std::uint32_t imageLength = 0;

    bool hasImage() const { return image.data() != nullptr; }
};

}  // namespace zq
