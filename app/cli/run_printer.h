#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "owner/owner_window.h"
#include "serial/platform.h"

namespace zq::cli {

// Everything a run writes, from however many boards at once: the boxes, notes and results every
// printer writes the same way, and the progress each printer shows its own way. One lock covers
// each whole line (and each whole box), so lines of different boards never mix; each board's
// lines carry its port in front when there is more than one board. Every time printed is read
// from a board's platform, never from a clock of the printer's own.
class RunPrinter {
  public:
    // `clock` serves every board until it is given its own.
    RunPrinter(std::ostream& out, std::ostream& err, const std::vector<std::string>& ports,
               bool json, Platform& clock);
    virtual ~RunPrinter() = default;
    RunPrinter(const RunPrinter&) = delete;
    RunPrinter& operator=(const RunPrinter&) = delete;

    // A board that joins a run under way (watch adds each board as it appears); its lines
    // always carry its port. Gives its number.
    std::size_t addBoard(std::string_view port);
    // A board added that has ended: its number may serve the next one, so that a station that
    // runs for days holds only the boards in flight.
    void releaseBoard(std::size_t board);
    // The platform the board runs on, whose clock times its progress.
    void useClock(std::size_t board, Platform& clock);

    // A box and, below it, why; both to standard error, or a Plain box to standard output.
    // Nothing of it in JSON mode, where the box goes into the board's object instead.
    void box(std::size_t board, BoxStyle style, std::string_view text, std::string_view reason);
    // A line of the front end's own on standard error (image refusal, trace).
    void note(std::size_t board, std::string_view line);
    // Whether every line about the board already starts with `device`, so that a reason need not
    // name it again.
    bool namesPort(std::size_t board, std::string_view device);
    // A line for standard output, as it is (JSON objects, the summary).
    void result(std::string_view line, bool toErr);

    // Progress of one board: a line of its own (nothing when quiet), and its stages.
    virtual void progress(std::size_t board, std::string_view line) = 0;
    virtual void stage(std::size_t board, OperationStage stage) = 0;
    virtual void range(std::size_t board, std::uint32_t maximum) = 0;
    virtual void position(std::size_t board, std::uint32_t position) = 0;
    // How long the board has been programming, on the operation's own clock.
    virtual void countdown(std::size_t /*board*/, std::chrono::milliseconds /*elapsed*/) {}
    // Only a terminal's bar counts down; plain lines never rewrite themselves.
    virtual bool showsCountdown() const { return false; }
    // The board's operation is over: its last phase ends here.
    virtual void finished(std::size_t board, std::string_view outcome) = 0;
    // A station's counts, where a line at the bottom of the terminal shows them.
    virtual void showCounts(std::string_view /*counts*/) {}
    // Leaves the terminal below everything drawn.
    virtual void close() {}

  protected:
    struct Board {
        std::string prefix;
        Platform* clock = nullptr;
        std::chrono::nanoseconds now{};  // on its clock, when the board last reported
        std::optional<OperationStage> stage{};
        std::chrono::nanoseconds stageStart{};
        std::uint32_t maximum = 0;
        std::uint32_t position = 0;
    };

    // The board, its time brought up to date; called on the board's own thread only, since
    // a simulated clock is not shared across threads.
    Board& reporting(std::size_t board);
    // Says how the board's stage ended, if one is under way, and ends it.
    virtual void endStageLocked(std::size_t board) = 0;
    // Writes a line above whatever is redrawn in place; false when nothing is.
    virtual bool printAboveLocked(std::string_view /*line*/) { return false; }
    // Around lines written in full: what is redrawn in place makes way, then comes back.
    virtual void makeRoomLocked() {}
    virtual void redrawLocked() {}

    // keepBar: a note goes above the bar; a box ends the bar's line.
    void printLocked(std::ostream& to, std::string_view text, const std::string& prefix,
                     bool keepBar = false);

    std::ostream& out_;
    std::ostream& err_;
    std::vector<Board> boards_;
    std::vector<std::size_t> released_;
    std::mutex lock_;
    Platform& clock_;

  private:
    bool json_;
};

std::string_view stageName(OperationStage stage);

// From the image's acknowledgement to the port handed back: the firmware's programming time, the
// status query and the pause after it.
inline constexpr std::chrono::milliseconds ProgrammingTakes{6200};

}  // namespace zq::cli
