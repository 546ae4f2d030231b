#pragma once

#include <string_view>

#include "owner/owner_window.h"

namespace zq {

// An empty text means the mode has no message at that point: nothing is shown.
inline void showError(OwnerWindow& window, std::string_view text) {
    if (!text.empty()) {
        window.showMessage(BoxStyle::Error, text);
    }
}

inline void showPlain(OwnerWindow& window, std::string_view text) {
    if (!text.empty()) {
        window.showMessage(BoxStyle::Plain, text);
    }
}

}  // namespace zq
