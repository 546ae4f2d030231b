#pragma once

#include "app/cli/run_printer.h"
#include "app/cli/status_line.h"

namespace zq::cli {

// Progress redrawn in place, for standard error on a terminal: one board's stage as a status
// line (a bar while a transfer lasts, a countdown while the board programs), or several boards'
// as a block of one line each. What else is written passes above it.
class TerminalPrinter final : public RunPrinter {
  public:
    TerminalPrinter(std::ostream& out, std::ostream& err, const std::vector<std::string>& ports,
                    bool json, Platform& clock)
        : RunPrinter(out, err, ports, json, clock), statusLine_(err) {}

    void progress(std::size_t board, std::string_view line) override;
    void stage(std::size_t board, OperationStage stage) override;
    void range(std::size_t board, std::uint32_t maximum) override;
    void position(std::size_t board, std::uint32_t position) override;
    void countdown(std::size_t board, std::chrono::milliseconds elapsed) override;
    bool showsCountdown() const override { return true; }
    void finished(std::size_t board, std::string_view outcome) override;
    void close() override;

  private:
    // What a board's line shows beyond its stage.
    struct Tally {
        std::optional<std::chrono::milliseconds> programming;  // from the countdown
        std::string done;  // the board's result once it is finished
        // Several boards: what its ended stages came to, for its last line.
        std::string sent;
        std::string took;
    };

    bool single() const { return boards_.size() == 1; }
    Tally& tally(std::size_t board);
    void endStageLocked(std::size_t board) override;
    bool printAboveLocked(std::string_view line) override;
    void makeRoomLocked() override;
    void redrawLocked() override;
    std::string render(std::size_t board);
    std::chrono::milliseconds programmingTime(std::size_t board);
    std::string took(std::size_t board);
    void drawLocked(bool force);
    void clearBlockLocked();

    std::vector<Tally> tallies_;
    StatusLine statusLine_;  // one board
    std::size_t drawn_ = 0;  // several boards: lines of the block below the cursor
    std::chrono::nanoseconds lastDraw_{};
    // Several boards, once the run is over: the finished block stays on screen and the summary
    // follows it, not redrawn any more.
    bool closed_ = false;
};

// The bar's text for a position within 0..maximum; a position past the end shows a full bar.
std::string renderProgress(std::uint32_t position, std::uint32_t maximum);

}  // namespace zq::cli
