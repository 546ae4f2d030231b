#pragma once

#include <optional>

#include "app/cli/run_printer.h"
#include "app/cli/status_line.h"

namespace zq::cli {

// Progress as plain lines, for standard error on a file or a pipe: each stage says when it
// starts and ends, each line stamped with the time of day, so a log reads as things happened.
// Quiet, there is no progress at all; in JSON mode the results are JSON lines.
class LinePrinter final : public RunPrinter {
  public:
    // `countsLine`: a status line at the bottom of a terminal shows the run's counts.
    LinePrinter(std::ostream& out, std::ostream& err, const std::vector<std::string>& ports,
                bool json, bool quiet, Platform& clock, bool countsLine = false);

    void progress(std::size_t board, std::string_view line) override;
    void stage(std::size_t board, OperationStage stage) override;
    void range(std::size_t board, std::uint32_t maximum) override;
    void position(std::size_t board, std::uint32_t position) override;
    void finished(std::size_t board, std::string_view outcome) override;
    void showCounts(std::string_view counts) override;
    void close() override;

  private:
    void endStageLocked(std::size_t board) override;
    // A progress line: when it was written, the board, the text.
    void lineLocked(const Board& b, std::string_view text);

    bool printAboveLocked(std::string_view line) override;
    void makeRoomLocked() override;
    void redrawLocked() override;

    bool quiet_;
    std::optional<StatusLine> counts_;
    std::string countsText_;
};

}  // namespace zq::cli
