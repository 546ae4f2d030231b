#include "image/image_sniff.h"

#include <algorithm>

namespace zq {

bool startsLikeHexText(std::span<const std::uint8_t> head) {
    const auto first = std::find_if(head.begin(), head.end(),
                                    [](std::uint8_t b) { return b != '\r' && b != '\n'; });
    return first != head.end() && *first == ':';
}

bool looksLikeText(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) {
        return false;
    }
    const auto printable = std::count_if(bytes.begin(), bytes.end(), [](std::uint8_t b) {
        return (b >= 0x20 && b < 0x7F) || b == '\t' || b == '\r' || b == '\n';
    });
    return static_cast<std::size_t>(printable) * 10 >= bytes.size() * 9;
}

}  // namespace zq
