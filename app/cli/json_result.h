#pragma once

#include <chrono>
#include <string>

#include "app/cli/board_result.h"

namespace zq::cli {

// One board's result as a single line of JSON, without the line break.
std::string jsonLine(const BoardResult& result);

// UTC in ISO 8601 with milliseconds: 2024-05-01T12:34:56.789Z.
std::string isoUtc(std::chrono::system_clock::time_point at);

}  // namespace zq::cli
