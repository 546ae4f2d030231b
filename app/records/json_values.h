#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>

// Every JSON output of zq417-flash says null for what is not known, never an empty string or a
// zero a script could take for a value.
namespace zq {

template <typename T>
nlohmann::ordered_json orNull(const std::optional<T>& value) {
    return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json(nullptr);
}

// For text fields whose empty value means that nothing is known.
inline nlohmann::ordered_json textOrNull(std::string_view text) {
    return text.empty() ? nlohmann::ordered_json(nullptr)
                        : nlohmann::ordered_json(std::string(text));
}

}  // namespace zq
