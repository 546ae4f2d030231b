#pragma once

#include "app/cli/run_printer.h"

namespace zq::cli {

// Progress as plain lines, for standard error on a file or a pipe: each stage says when it
// starts and ends, each line stamped with the time of day, so a log reads as things happened.
// Quiet, there is no progress at all; in JSON mode the results are JSON lines.
class LinePrinter final : public RunPrinter {
  public:
    LinePrinter(std::ostream& out, std::ostream& err, const std::vector<std::string>& ports,
                bool json, bool quiet, Platform& clock)
        : RunPrinter(out, err, ports, json, clock), quiet_(quiet) {}

    void progress(std::size_t board, std::string_view line) override;
    void stage(std::size_t board, OperationStage stage) override;
    void range(std::size_t board, std::uint32_t maximum) override;
    void position(std::size_t board, std::uint32_t position) override;
    void finished(std::size_t board, std::string_view outcome) override;

  private:
    void endStageLocked(std::size_t board) override;
    // A progress line: when it was written, the board, the text.
    void lineLocked(const Board& b, std::string_view text);

    bool quiet_;
};

}  // namespace zq::cli
