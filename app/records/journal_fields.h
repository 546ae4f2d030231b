#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zq {

// The id every board record carries in the journal, so that a collector can pick the records out
// of everything else a station logs: journalctl MESSAGE_ID=aaa9d80ca08d4a42ac6f1e9b969dda83.
inline constexpr std::string_view kRecordMessageId = "aaa9d80ca08d4a42ac6f1e9b969dda83";

// A board record as journal fields, each "NAME=value": MESSAGE (the line a person reads),
// MESSAGE_ID, PRIORITY (6 when the record's "ok" is true, else 3) and SYSLOG_IDENTIFIER first,
// then one field per member in the record's order. Names are upper-cased, nested objects joined
// with '_' (image.sha256 is IMAGE_SHA256); a character the journal refuses in a name becomes '_'.
// A name the journal would refuse (starting with '_' or a digit) or gives a meaning of its own
// (MESSAGE, PRIORITY, ERRNO ...) gets RECORD_ in front. Strings go as they are, numbers and bools
// and whole arrays as their compact JSON; null members are left out, the journal has no null.
std::vector<std::string> journalFields(const nlohmann::ordered_json& record,
                                       std::string_view message);

// Sends one entry to the system's journal; the system's reason when it could not.
std::optional<std::string> sendToJournal(const std::vector<std::string>& fields);

// Whether a journal takes entries here: built with it, and its socket is listening.
bool journalAvailable();

}  // namespace zq
