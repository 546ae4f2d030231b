#pragma once

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>

#include "station/board_record.h"

namespace zq {

// One board's record as the JSON object every front end prints and logs.
nlohmann::ordered_json recordJson(const station::BoardRecord& record);

// The same as one line of JSON, without the line break.
std::string recordLine(const station::BoardRecord& record);

// UTC in ISO 8601 with milliseconds: 2024-05-01T12:34:56.789Z.
std::string isoUtc(std::chrono::system_clock::time_point at);

}  // namespace zq
