#pragma once

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "image/system_file.h"
#include "station/board_record.h"

namespace zq {

// The --log file: each board's record added as one line of JSON (or sent to the journal). Every
// line goes in one append and is on the disk before the next one starts, so whatever ends the
// program (a crash, a signal, the power) loses at most the line being written, never an earlier
// one. The file is never truncated.
class RecordLog {
  public:
    // The name that sends each record to the system's journal instead, as fields of their own.
    static constexpr std::string_view JournalLog = "journal";

    // Opens `path`, creating it when missing (or, named JournalLog, checks that a journal takes
    // entries); the system's reason when it cannot.
    std::optional<std::string> open(const std::filesystem::path& path);
    // Adds the record as its line, from any thread; the system's reason when it failed.
    std::optional<std::string> append(const station::BoardRecord& record);
    // Adds `line` and its line break.
    std::optional<std::string> appendLine(std::string_view line);

    const std::filesystem::path& path() const { return path_; }
    bool isOpen() const { return !path_.empty(); }

  private:
    std::filesystem::path path_;
    bool journal_ = false;
    // Its own lock, not the output's: a board's progress must not wait for another's sync.
    std::mutex lock_;
    SystemFile file_;
};

}  // namespace zq
