#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "station/board_record.h"

namespace zq::qt {

// The run's --log file, shared by the boards' threads: each finished board's record as the JSON
// line zq417-flash watch writes.
class StationLog {
  public:
    StationLog();
    ~StationLog();
    // The system's reason when the file cannot be opened to add records.
    std::optional<std::string> open(const std::filesystem::path& file);
    std::optional<std::string> append(const station::BoardRecord& record);

  private:
    struct File;
    std::mutex lock_;
    std::unique_ptr<File> file_;
};

// The first line of why a board failed, as a FAILED tile shows it.
std::string failureLine(const station::BoardRecord& record);

// The default log: a file named for today in the user's data directory.
std::filesystem::path defaultLogFile();

}  // namespace zq::qt
