#include "app/explain/printable_name.h"

namespace zq {

namespace {

unsigned byteAt(std::string_view text, std::size_t i) {
    return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u;
}

// The length of the valid UTF-8 sequence `text` starts with; 0 when it starts with none
// (overlong forms and surrogates included).
std::size_t sequenceLength(std::string_view text) {
    const unsigned lead = byteAt(text, 0);
    if (lead < 0x80) {
        return 1;
    }
    std::size_t length = 0;
    unsigned low = 0x80;  // the range of the second byte
    unsigned high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : low;
        high = lead == 0xED ? 0x9F : high;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : low;
        high = lead == 0xF4 ? 0x8F : high;
    } else {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const unsigned byte = byteAt(text, i);
        if (byte < (i == 1 ? low : 0x80) || byte > (i == 1 ? high : 0xBF)) {
            return 0;
        }
    }
    return length;
}

bool isControl(std::string_view sequence) {
    const unsigned first = byteAt(sequence, 0);
    if (sequence.size() == 1) {
        return first < 0x20 || first == 0x7F;
    }
    // U+0080 to U+009F
    return sequence.size() == 2 && first == 0xC2 && byteAt(sequence, 1) < 0xA0;
}

std::string escaped(std::string_view text, bool controls) {
    static constexpr char Digits[] = "0123456789abcdef";
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = sequenceLength(text.substr(i));
        const std::string_view sequence = text.substr(i, length == 0 ? 1 : length);
        i += sequence.size();
        if (length != 0 && !(controls && isControl(sequence))) {
            result += sequence;
            continue;
        }
        for (const char c : sequence) {
            const auto byte = static_cast<unsigned char>(c);
            result += {'\\', 'x', Digits[byte >> 4], Digits[byte & 0xF]};
        }
    }
    return result;
}

}  // namespace

std::string validUtf8(std::string_view name) {
    return escaped(name, false);
}

std::string printableName(std::string_view name) {
    return escaped(name, true);
}

}  // namespace zq
