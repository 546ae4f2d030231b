#include "app/records/record_json.h"

#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>

#include <utility>

#include "app/explain/reason_text.h"
#include "app/records/json_values.h"
#include "app/records/port_json.h"
#include "app/records/record_text.h"
#include "app/records/safe_text.h"
#include "app/version.h"
#include "serial/port_names.h"

namespace zq {

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

namespace {

std::optional<std::string> modeName(BoardMode mode) {
    switch (mode) {
        case BoardMode::Download:
            return "download";
        case BoardMode::Update:
            return "update";
        case BoardMode::Unknown:
            break;
    }
    return std::nullopt;
}

nlohmann::ordered_json boxesJson(const std::vector<station::ShownBox>& boxes,
                                 nlohmann::ordered_json& into) {
    for (const station::ShownBox& box : boxes) {
        into.push_back(
            {{"title", box.style == BoxStyle::Error ? "Error" : "OK"}, {"text", box.text}});
    }
    return into;
}

// How far a pulled board had got, as a script compares it.
std::string stageCode(std::optional<OperationStage> stage) {
    if (!stage) {
        return "setup";
    }
    switch (*stage) {
        case OperationStage::Probing:
            return "handshake";
        case OperationStage::Loader:
            return "loader";
        case OperationStage::Firmware:
            return "image";
        case OperationStage::AwaitingAck:
            return "acknowledgement";
        case OperationStage::Programming:
            return "programming";
    }
    return "?";
}

}  // namespace

nlohmann::ordered_json recordJson(const station::BoardRecord& record) {
    const std::string device = devicePath(record.fixture.openName);
    const Outcome& last = record.outcome();
    nlohmann::ordered_json messages = nlohmann::ordered_json::array();
    if (record.refusal && !record.refusal->box.empty()) {
        messages.push_back({{"title", "Error"}, {"text", record.refusal->box}});
    }
    nlohmann::ordered_json tries = nlohmann::ordered_json::array();
    for (const station::Try& attempt : record.tries) {
        boxesJson(attempt.boxes, messages);
        station::BoardRecord alone = record;  // the try's own reason, as if it had been the last
        alone.tries = {attempt};
        alone.end = attempt.outcome.kind == OutcomeKind::Interrupted
                        ? station::BoardEnd::Interrupted
                    : attempt.outcome.succeeded() ? station::BoardEnd::Succeeded
                                                  : station::BoardEnd::Failed;
        tries.push_back({{"started", isoUtc(attempt.started)},
                         {"seconds", attempt.seconds},
                         {"latency_ms", attempt.latencyMs},
                         {"exit", attempt.exit},
                         {"reason", orNull(reasonOf(alone, device))}});
    }
    const std::string performed = !last.performed                ? ""
                                  : last.performed == ModeUpdate ? "update"
                                                                 : "download";
    nlohmann::ordered_json fixture = portJson(record.fixture.port);
    fixture["name"] = textOrNull(record.fixture.port.systemName);
    fixture["device"] = device;
    nlohmann::ordered_json line = {
        {"port", record.fixture.openName},
        {"device", device},
        {"operation", std::string(station::operationName(record.operation))},
        {"performed", textOrNull(performed)},
        {"ok", record.ok()},
        {"exit", record.exit},
        {"messages", messages},
        {"reason", orNull(reasonOf(record, device))},
        {"advice", orNull(adviceOf(record))},
        {"board_mode", orNull(modeName(last.boardMode))},
        {"status", orNull(last.status)},
        {"interrupted_by", record.interruptedBy != 0 ? nlohmann::ordered_json(record.interruptedBy)
                                                     : nlohmann::ordered_json(nullptr)},
        {"image",
         {{"name", record.image.name},
          // An image with no bytes is refused, so 0 says that none was read.
          {"length", record.image.length != 0 ? nlohmann::ordered_json(record.image.length)
                                              : nlohmann::ordered_json(nullptr)},
          {"sha256", textOrNull(record.image.sha256)}}},
        {"started", isoUtc(record.started)},
        {"seconds", record.seconds},
        {"attempts", std::max<std::size_t>(1, record.tries.size())},
        {"log_error", orNull(record.logError)},
        {"result", std::string(station::boardEndName(record.end))},
        {"pulled_during", record.end == station::BoardEnd::Pulled
                              ? nlohmann::ordered_json(stageCode(record.pulledDuring))
                              : nlohmann::ordered_json(nullptr)},
        {"fixture", fixture},
        {"station", textOrNull(record.station)},
        {"tool_version", std::string(version::Number)},
        {"ended", isoUtc(record.ended)},
        {"tries", tries},
    };
    return line;
}

std::string recordLine(const station::BoardRecord& record) {
    return jsonText(recordJson(record));
}

}  // namespace zq
