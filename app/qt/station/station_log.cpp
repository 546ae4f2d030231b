#include "app/qt/station/station_log.h"

#include <QDate>
#include <QStandardPaths>

#include "app/records/record_log.h"
#include "app/records/record_text.h"

namespace zq::qt {

struct StationLog::File {
    RecordLog log;
};

StationLog::StationLog() = default;
StationLog::~StationLog() = default;

std::optional<std::string> StationLog::open(const std::filesystem::path& file) {
    const std::lock_guard hold(lock_);
    file_ = std::make_unique<File>();
    std::error_code ignored;  // a directory that cannot be made is said by the open below
    std::filesystem::create_directories(file.parent_path(), ignored);
    return file_->log.open(file);
}

std::optional<std::string> StationLog::append(const station::BoardRecord& record) {
    const std::lock_guard hold(lock_);
    if (!file_) {
        return std::nullopt;
    }
    return file_->log.append(record);
}

std::string failureLine(const station::BoardRecord& record) {
    return reasonLine(record);
}

std::filesystem::path defaultLogFile() {
    const QString directory = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    const QString name =
        QStringLiteral("station-%1.jsonl").arg(QDate::currentDate().toString(Qt::ISODate));
    return std::filesystem::path(directory.toStdString()) / name.toStdString();
}

}  // namespace zq::qt
