#include "image/image_sniff.h"

#include <algorithm>
#include <initializer_list>

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

namespace {

bool startsWith(std::span<const std::uint8_t> bytes, std::initializer_list<std::uint8_t> magic) {
    return bytes.size() >= magic.size() && std::equal(magic.begin(), magic.end(), bytes.begin());
}

bool isHexDigit(std::uint8_t b) {
    return (b >= '0' && b <= '9') || (b >= 'A' && b <= 'F') || (b >= 'a' && b <= 'f');
}

// An S-record: 'S', the record type, then the byte count in two hex digits.
bool startsLikeSRecord(std::span<const std::uint8_t> content) {
    std::span<const std::uint8_t> head = withoutByteOrderMark(content);
    while (!head.empty() && (head[0] == '\r' || head[0] == '\n')) {
        head = head.subspan(1);
    }
    return head.size() >= 4 && head[0] == 'S' && head[1] >= '0' && head[1] <= '9' &&
           isHexDigit(head[2]) && isHexDigit(head[3]);
}

// "MZ", and the PE signature where the DOS header's last field points, inside the head: a file
// that merely starts with the two letters is not taken for one.
bool startsLikePe(std::span<const std::uint8_t> head) {
    constexpr std::size_t PointerAt = 0x3C;
    if (!startsWith(head, {'M', 'Z'}) || head.size() < PointerAt + 4) {
        return false;
    }
    const std::size_t at = head[PointerAt] | head[PointerAt + 1] << 8 |
                           static_cast<std::size_t>(head[PointerAt + 2]) << 16 |
                           static_cast<std::size_t>(head[PointerAt + 3]) << 24;
    return at <= head.size() - 4 && startsWith(head.subspan(at), {'P', 'E', 0, 0});
}

}  // namespace

ForeignFormat foreignFormatOf(std::span<const std::uint8_t> head) {
    if (startsWith(head, {0x7F, 'E', 'L', 'F'})) {
        return ForeignFormat::Elf;
    }
    if (startsLikePe(head)) {
        return ForeignFormat::Pe;
    }
    for (const std::initializer_list<std::uint8_t> magic :
         {std::initializer_list<std::uint8_t>{0xFE, 0xED, 0xFA, 0xCE},
          {0xFE, 0xED, 0xFA, 0xCF},
          {0xCE, 0xFA, 0xED, 0xFE},
          {0xCF, 0xFA, 0xED, 0xFE},
          {0xCA, 0xFE, 0xBA, 0xBE}}) {
        if (startsWith(head, magic)) {
            return ForeignFormat::MachO;
        }
    }
    if (startsWith(head, {'!', '<', 'a', 'r', 'c', 'h', '>', '\n'})) {
        return ForeignFormat::ArArchive;
    }
    if (startsWith(head, {'U', 'F', '2', '\n', 0x57, 0x51, 0x5D, 0x9E})) {
        return ForeignFormat::Uf2;
    }
    if (startsWith(head, {'P', 'K', 3, 4}) || startsWith(head, {'P', 'K', 5, 6})) {
        return ForeignFormat::Zip;
    }
    if (startsWith(head, {0x1F, 0x8B})) {
        return ForeignFormat::Gzip;
    }
    if (startsLikeSRecord(head)) {
        return ForeignFormat::SRecord;
    }
    return ForeignFormat::None;
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
