#pragma once

#include <nlohmann/json_fwd.hpp>

#include <string>

#include "app/explain/printable_name.h"

namespace zq {

// A JSON document as text, every string in it made valid UTF-8 first.
std::string jsonText(nlohmann::ordered_json document, int indent = -1);

}  // namespace zq
