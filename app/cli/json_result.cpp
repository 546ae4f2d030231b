#include "app/cli/json_result.h"

#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>

#include <utility>

#include "app/cli/json_values.h"
#include "app/cli/safe_text.h"

namespace zq::cli {

std::string isoUtc(std::chrono::system_clock::time_point at) {
    const auto sinceEpoch = at.time_since_epoch();
    const auto whole = std::chrono::duration_cast<std::chrono::seconds>(sinceEpoch);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch - whole).count();
    const std::time_t seconds = static_cast<std::time_t>(whole.count());
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &seconds);
#else
    gmtime_r(&seconds, &utc);
#endif
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(millis));
    return text;
}

std::string jsonLine(const BoardResult& result) {
    nlohmann::ordered_json messages = nlohmann::ordered_json::array();
    for (const ShownBox& box : result.messages) {
        messages.push_back(
            {{"title", box.style == BoxStyle::Error ? "Error" : "OK"}, {"text", box.text}});
    }
    nlohmann::ordered_json line = {
        {"port", result.port},
        {"device", result.device},
        {"operation", result.operation},
        {"performed", textOrNull(result.performed)},
        {"ok", result.ok},
        {"exit", result.exit},
        {"messages", messages},
        {"reason", orNull(result.reason)},
        {"advice", orNull(result.advice)},
        {"board_mode", orNull(result.boardMode)},
        {"status", orNull(result.status)},
        {"interrupted_by", result.interruptedBy != 0 ? nlohmann::ordered_json(result.interruptedBy)
                                                     : nlohmann::ordered_json(nullptr)},
        {"image",
         {{"name", result.image.name},
          // An image with no bytes is refused, so 0 says that none was read.
          {"length", result.image.length != 0 ? nlohmann::ordered_json(result.image.length)
                                              : nlohmann::ordered_json(nullptr)},
          {"sha256", textOrNull(result.image.sha256)}}},
        {"started", isoUtc(result.started)},
        {"seconds", result.seconds},
        {"attempts", result.attempts},
        {"log_error", orNull(result.logError)},
    };
    return jsonText(std::move(line));
}

}  // namespace zq::cli
