#pragma once

#include <QString>

#include <string_view>

namespace zq::qt {

// The core's UTF-8 text as Qt holds it.
inline QString qtText(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

}  // namespace zq::qt
