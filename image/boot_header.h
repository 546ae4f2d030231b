#pragma once

#include <array>
#include <cstdint>

namespace zq {

// The header the board's EEPROM programming expects in front of an image.
inline constexpr std::array<std::uint8_t, 32> BootHeader{
    0x75, 0x91, 0x20, 0x75, 0x92, 0x00, 0x75, 0x93, 0xFF, 0x75, 0x94, 0x1F, 0x75, 0x85, 0x4A, 0xD4,
    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,
};

bool hasBootHeader(const std::uint8_t* image, std::uint32_t imageLength);

}  // namespace zq
