#pragma once

#include <string_view>

namespace zq::station {

// Whether `text` fits the wildcard `pattern`, the same on every system: `*` any run of characters
// (also none, and also `/`), `?` one character, `[abc]`, `[a-z]` and `[!abc]` one of a set or
// not; `\` takes the next character as it is. Letters match in their own case only.
bool globMatches(std::string_view pattern, std::string_view text);

}  // namespace zq::station
