#pragma once

#include <string>

#include "image/built_in_image.h"
#include "image/image_identity.h"

namespace zq::test {

// The line every run prints before it sends anything to a board, for the built-in image. Spelt
// out, so that a change of what the user reads fails a test.
inline std::string builtInIdentityLine() {
    return "Image: built-in, 5695 bytes, SHA-256 of these bytes (before pad and boot header) " +
           sha256Hex({builtInImage(), BuiltInImageLength}) + "\n";
}

}  // namespace zq::test
