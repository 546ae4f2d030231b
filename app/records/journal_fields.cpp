#include "app/records/journal_fields.h"

#include <algorithm>
#include <array>

namespace zq {
namespace {

// The fields journald and journalctl read a meaning into: a record member of that name must not
// pass for one of them.
constexpr std::array kJournalOwnNames = {
    std::string_view("MESSAGE"),
    std::string_view("MESSAGE_ID"),
    std::string_view("PRIORITY"),
    std::string_view("SYSLOG_IDENTIFIER"),
    std::string_view("SYSLOG_FACILITY"),
    std::string_view("SYSLOG_PID"),
    std::string_view("SYSLOG_TIMESTAMP"),
    std::string_view("SYSLOG_RAW"),
    std::string_view("CODE_FILE"),
    std::string_view("CODE_LINE"),
    std::string_view("CODE_FUNC"),
    std::string_view("ERRNO"),
    std::string_view("DOCUMENTATION"),
    std::string_view("TID"),
    std::string_view("UNIT"),
    std::string_view("USER_UNIT"),
    std::string_view("INVOCATION_ID"),
    std::string_view("USER_INVOCATION_ID"),
    std::string_view("OBJECT_PID"),
};

// journald drops a field whose name is longer than this, silently.
constexpr std::size_t kMostNameLength = 64;

std::string journalName(const std::string& path) {
    std::string name = path;
    for (char& c : name) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        } else if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) {
            c = '_';
        }
    }
    const bool refused =
        name.empty() || name.front() == '_' || (name.front() >= '0' && name.front() <= '9');
    if (refused || std::ranges::find(kJournalOwnNames, name) != kJournalOwnNames.end()) {
        name.insert(0, "RECORD_");
    }
    name.resize(std::min(name.size(), kMostNameLength));
    return name;
}

void addMembers(const nlohmann::ordered_json& object, const std::string& prefix,
                std::vector<std::string>& fields) {
    for (const auto& [key, value] : object.items()) {
        const std::string path = prefix.empty() ? key : prefix + "_" + key;
        if (value.is_null()) {
            continue;
        }
        if (value.is_object()) {
            addMembers(value, path, fields);
        } else if (value.is_string()) {
            fields.push_back(journalName(path) + "=" + value.get<std::string>());
        } else {
            // A byte that is no UTF-8 must not throw here: the record would be lost for one byte.
            fields.push_back(journalName(path) + "=" +
                             value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
        }
    }
}

}  // namespace

std::vector<std::string> journalFields(const nlohmann::ordered_json& record,
                                       std::string_view message) {
    // A record that does not say it succeeded is an error: journald's priorities 6 and 3.
    const auto ok = record.find("ok");
    std::vector<std::string> fields = {
        "MESSAGE=" + std::string(message),
        "MESSAGE_ID=" + std::string(kRecordMessageId),
        ok != record.end() && *ok == true ? "PRIORITY=6" : "PRIORITY=3",
        "SYSLOG_IDENTIFIER=zq417-flash",
    };
    if (record.is_object()) {
        addMembers(record, "", fields);
    }
    return fields;
}

}  // namespace zq
