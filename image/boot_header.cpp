#include "image/boot_header.h"

#include <algorithm>

namespace zq {

bool hasBootHeader(const std::uint8_t* image, std::uint32_t imageLength) {
    if (image == nullptr || imageLength < BootHeader.size()) {
        return false;
    }
    return std::equal(BootHeader.begin(), BootHeader.end(), image);
}

}  // namespace zq
