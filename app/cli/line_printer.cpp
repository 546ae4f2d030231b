#include "app/cli/line_printer.h"

#include <cstdio>

#include "app/records/record_json.h"

namespace zq::cli {

LinePrinter::LinePrinter(std::ostream& out, std::ostream& err,
                         const std::vector<std::string>& ports, bool json, bool quiet,
                         Platform& clock, bool countsLine)
    : RunPrinter(out, err, ports, json, clock), quiet_(quiet) {
    if (countsLine) {
        counts_.emplace(err);
    }
}

void LinePrinter::lineLocked(const Board& b, std::string_view text) {
    // Stamped as the results' "started" is, so a log of standard error lines up with them.
    const std::string line = isoUtc(b.clock->wallClock()) + ' ' + b.prefix + std::string(text);
    if (!printAboveLocked(line)) {
        err_ << line << '\n';
        err_.flush();
    }
}

void LinePrinter::showCounts(std::string_view counts) {
    const std::lock_guard hold(lock_);
    if (counts_) {
        countsText_ = counts;
        counts_->show(countsText_);
    }
}

void LinePrinter::close() {
    const std::lock_guard hold(lock_);
    if (counts_) {
        counts_->clear();
        counts_.reset();
    }
}

bool LinePrinter::printAboveLocked(std::string_view line) {
    if (!counts_ || !counts_->showing()) {
        return false;
    }
    counts_->printAbove(line);
    return true;
}

void LinePrinter::makeRoomLocked() {
    if (counts_) {
        counts_->clear();
    }
}

void LinePrinter::redrawLocked() {
    if (counts_ && !countsText_.empty()) {
        counts_->show(countsText_);
    }
}

void LinePrinter::endStageLocked(std::size_t board) {
    Board& b = boards_[board];
    if (!b.stage) {
        return;
    }
    std::string line = std::string(stageName(*b.stage)) + ": ended";
    if (b.maximum != 0 &&
        (*b.stage == OperationStage::Loader || *b.stage == OperationStage::Firmware)) {
        line += ", " + std::to_string(b.position) + " of " + std::to_string(b.maximum) + " bytes";
    }
    char took[32];
    std::snprintf(took, sizeof took, " in %.3f s",
                  std::chrono::duration<double>(b.now - b.stageStart).count());
    lineLocked(b, line + took);
    b.stage.reset();
}

void LinePrinter::progress(std::size_t board, std::string_view line) {
    if (quiet_) {
        return;
    }
    const std::lock_guard hold(lock_);
    const Board& b = reporting(board);
    // As a box: what the stage came to, said after its end.
    endStageLocked(board);
    lineLocked(b, line);
}

void LinePrinter::stage(std::size_t board, OperationStage stage) {
    // The wait for the image's acknowledgement is the firmware stage's last ~25 ms.
    if (quiet_ || stage == OperationStage::AwaitingAck) {
        return;
    }
    const std::lock_guard hold(lock_);
    Board& b = reporting(board);
    endStageLocked(board);
    b.stage = stage;
    b.stageStart = b.now;
    // The firmware's range is set just before its stage begins; every other stage starts afresh.
    if (stage != OperationStage::Firmware) {
        b.maximum = 0;
        b.position = 0;
    }
    lineLocked(b, std::string(stageName(stage)) + ": started");
}

void LinePrinter::range(std::size_t board, std::uint32_t maximum) {
    const std::lock_guard hold(lock_);
    boards_[board].maximum = maximum;
    boards_[board].position = 0;
}

void LinePrinter::position(std::size_t board, std::uint32_t position) {
    const std::lock_guard hold(lock_);
    boards_[board].position = position;
}

void LinePrinter::finished(std::size_t board, std::string_view /*outcome*/) {
    const std::lock_guard hold(lock_);
    reporting(board);
    endStageLocked(board);
}

}  // namespace zq::cli
