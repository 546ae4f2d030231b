#pragma once

#include <ostream>
#include <string>
#include <string_view>

namespace zq::cli {

// The one line at the bottom of standard error that is redrawn in place (the progress bar).
// Everything else written to standard error while it is shown goes through here, so a trace line
// never lands in the middle of the bar and the bar never overwrites a trace line.
class StatusLine {
  public:
    explicit StatusLine(std::ostream& err) : err_(err) {}

    // Replaces what the line shows.
    void show(std::string_view text);
    // Leaves the line as it stands and moves below it, so what follows starts on a line of its
    // own. Does nothing when no line is shown.
    void finish();
    // Takes the line away; what follows is written where it stood.
    void clear();
    // Writes one complete line above the status line, which is then drawn again beneath it.
    void printAbove(std::string_view line);

    bool showing() const { return showing_; }

  private:
    void erase();

    std::ostream& err_;
    std::string text_;
    bool showing_ = false;
};

}  // namespace zq::cli
