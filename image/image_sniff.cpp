#include "image/image_sniff.h"

#include <algorithm>

namespace zq {

std::string_view withoutByteOrderMark(std::string_view text) {
    constexpr std::string_view Mark = "\xEF\xBB\xBF";
    return text.starts_with(Mark) ? text.substr(Mark.size()) : text;
}

std::span<const std::uint8_t> withoutByteOrderMark(std::span<const std::uint8_t> bytes) {
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return bytes.subspan(text.size() - withoutByteOrderMark(text).size());
}

bool startsLikeHexText(std::span<const std::uint8_t> content) {
    const std::span<const std::uint8_t> head = withoutByteOrderMark(content);
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
