#include "app/records/record_log.h"

#include "app/records/journal_fields.h"
#include "app/records/record_json.h"
#include "app/records/record_text.h"
#include "app/records/safe_text.h"

#include <cstdint>
#include <span>
#include <vector>

namespace zq {

std::optional<std::string> RecordLog::open(const std::filesystem::path& path) {
    if (path == JournalLog) {
        if (!journalAvailable()) {
            return "no system journal takes entries here (" +
                   sendToJournal({}).value_or("no journal") + "); name a file such as ./journal";
        }
        path_ = path;
        journal_ = true;
        return std::nullopt;
    }
    if (!file_.openForAppending(path)) {
        return file_.lastError().text;
    }
    path_ = path;
    // A log created just now must still be there after a power cut, with its first line.
    syncDirectory(path.parent_path());
    return std::nullopt;
}

std::optional<std::string> RecordLog::append(const station::BoardRecord& record) {
    if (journal_) {
        // The line a person reads in the journal; the fields hold the record itself.
        std::string message = printableName(record.fixture.openName) + ": " + endWords(record);
        if (const std::string reason = reasonLine(record); !reason.empty()) {
            message += ": " + reason;
        }
        return sendToJournal(journalFields(recordJson(record), message));
    }
    return appendLine(recordLine(record));
}

std::optional<std::string> RecordLog::appendLine(std::string_view line) {
    std::vector<std::uint8_t> bytes(line.begin(), line.end());
    bytes.push_back('\n');
    const std::lock_guard hold(lock_);
    if (!file_.write(std::span<const std::uint8_t>(bytes)) || !file_.sync()) {
        return file_.lastError().text;
    }
    return std::nullopt;
}

}  // namespace zq
