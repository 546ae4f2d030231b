#include "station/glob_match.h"

#include <cstddef>

namespace zq::station {

namespace {

// Matches `c` against the set that starts at pattern[at] (just after '['); sets `end` to the
// index after its ']'. A set with no closing ']' is no set: the '[' is then an ordinary character.
bool inSet(std::string_view pattern, std::size_t at, char c, std::size_t& end, bool& isSet) {
    std::size_t i = at;
    const bool negated = i < pattern.size() && (pattern[i] == '!' || pattern[i] == '^');
    if (negated) {
        ++i;
    }
    bool found = false;
    // A ']' right after the opening is a member, not the end.
    for (bool first = true; i < pattern.size() && (first || pattern[i] != ']'); first = false) {
        char low = pattern[i];
        if (low == '\\' && i + 1 < pattern.size()) {
            low = pattern[++i];
        }
        char high = low;
        if (i + 2 < pattern.size() && pattern[i + 1] == '-' && pattern[i + 2] != ']') {
            high = pattern[i + 2];
            i += 2;
        }
        found = found || (low <= c && c <= high);
        ++i;
    }
    isSet = i < pattern.size();
    end = i + 1;
    return found != negated;
}

}  // namespace

bool globMatches(std::string_view pattern, std::string_view text) {
    std::size_t p = 0;
    std::size_t t = 0;
    // Where to go back to when what followed the last '*' fails: one more character for the star.
    std::size_t starP = std::string_view::npos;
    std::size_t starT = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = ++p;
            starT = t;
            continue;
        }
        if (p < pattern.size()) {
            const char c = text[t];
            std::size_t next = p + 1;
            bool matched = false;
            if (pattern[p] == '?') {
                matched = true;
            } else if (pattern[p] == '[') {
                bool isSet = false;
                std::size_t end = 0;
                matched = inSet(pattern, p + 1, c, end, isSet);
                if (isSet) {
                    next = end;
                } else {
                    matched = c == '[';
                }
            } else if (pattern[p] == '\\' && p + 1 < pattern.size()) {
                matched = pattern[p + 1] == c;
                next = p + 2;
            } else {
                matched = pattern[p] == c;
            }
            if (matched) {
                p = next;
                ++t;
                continue;
            }
        }
        if (starP == std::string_view::npos) {
            return false;
        }
        p = starP;
        t = ++starT;
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

}  // namespace zq::station
