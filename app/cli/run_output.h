#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "app/cli/status_line.h"
#include "owner/owner_window.h"

namespace zq::cli {

// How progress is shown: not at all, as plain lines (standard error is a file or a pipe), or
// redrawn in place on a terminal.
enum class ProgressStyle { None, Lines, Terminal };

// Everything a run writes, from however many boards at once. One lock covers each whole line
// (and each whole box), so lines of different boards never mix; each board's lines carry its
// port in front when there is more than one board.
class RunOutput {
  public:
    RunOutput(std::ostream& out, std::ostream& err, ProgressStyle style,
              std::vector<std::string> ports, bool json);

    // A board that joins a run under way (watch adds each board as it appears); its lines
    // always carry its port. Gives its number. For plain lines: a terminal's block shows the
    // boards known when it is first drawn.
    std::size_t addBoard(std::string_view port);

    // A box and, below it, why; both to standard error, or a Plain box to standard output.
    // Nothing of it in JSON mode, where the box goes into the board's object instead.
    void box(std::size_t board, BoxStyle style, std::string_view text, std::string_view reason);
    // A line of the front end's own on standard error (image refusal, trace).
    void note(std::size_t board, std::string_view line);
    // A line for standard output, as it is (JSON objects, the summary).
    void result(std::string_view line, bool toErr);

    // Progress of one board: a line of its own (nothing when quiet), and its stages.
    void progress(std::size_t board, std::string_view line);
    void stage(std::size_t board, OperationStage stage);
    void range(std::size_t board, std::uint32_t maximum);
    void position(std::size_t board, std::uint32_t position);
    // How long the board has been programming, on the operation's own clock.
    void countdown(std::size_t board, std::chrono::milliseconds elapsed);
    // Only a terminal's bar counts down; plain lines never rewrite themselves.
    bool showsCountdown() const { return style_ == ProgressStyle::Terminal; }
    // The board's operation is over: its last phase ends here.
    void finished(std::size_t board, std::string_view outcome);
    // Leaves the terminal below everything drawn.
    void close();

  private:
    using Clock = std::chrono::steady_clock;
    struct Board {
        std::string prefix;
        std::optional<OperationStage> stage;
        Clock::time_point stageStart{};
        std::uint32_t maximum = 0;
        std::uint32_t position = 0;
        std::optional<std::chrono::milliseconds> programming;  // from the countdown
        std::string done;  // the board's result once it is finished
        // Several boards on a terminal: what its ended stages came to, for its last line.
        std::string sent;
        std::string took;
    };

    void endStage(Board& b);
    void endStageOnTerminal(Board& b);
    // A plain progress line: when it was written, the board, the text.
    void lineLocked(const Board& b, std::string_view text);
    std::string render(const Board& b) const;
    static std::chrono::milliseconds programmingTime(const Board& b);
    static std::string took(const Board& b);
    void drawLocked(bool force);
    // keepBar: a note goes above the bar; a box ends the bar's line.
    void printLocked(std::ostream& to, std::string_view text, const std::string& prefix,
                     bool keepBar = false);
    void clearBlockLocked();

    std::ostream& out_;
    std::ostream& err_;
    ProgressStyle style_;
    bool json_;
    std::vector<Board> boards_;
    std::mutex lock_;
    StatusLine statusLine_;  // one board on a terminal
    std::size_t drawn_ = 0;  // several boards on a terminal: lines of the block below the cursor
    Clock::time_point lastDraw_{};
};

std::string_view stageName(OperationStage stage);

// The bar's text for a position within 0..maximum; a position past the end shows a full bar.
std::string renderProgress(std::uint32_t position, std::uint32_t maximum);

// From the image's acknowledgement to the port handed back: the firmware's programming time, the
// status query and the pause after it.
inline constexpr std::chrono::milliseconds ProgrammingTakes{6200};

}  // namespace zq::cli
