#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "owner/owner_window.h"
#include "serial/interruption.h"

namespace zq::cli {

// Where the operation had got to when it was interrupted, for the line that says what that means
// for the board.
struct InterruptedAt {
    std::optional<OperationStage> stage;  // none: no stage was reached
    bool imageLoaded = false;             // the loader took the whole image earlier in this run
};

// The one line printed when a signal ends an operation.
std::string interruptionLine(const InterruptedAt& where);

// The line printed when a signal comes while the board programs its EEPROM: the operation goes on.
std::string_view programmingNotice();

// What a signal means for one board's operation, on that board's thread. From the moment the
// whole image has gone, the first signal no longer cuts the short wait for the board's
// acknowledgement: once it comes the board is programming, the signal only warns (once), and the
// operation goes on to the board's result. Before that a signal ends the operation.
class InterruptionWatch {
  public:
    explicit InterruptionWatch(std::function<void()> warnProgramming)
        : warnProgramming_(std::move(warnProgramming)) {}

    void stage(OperationStage stage);
    // Whether a signal has ended the operation. Once it has, boxes are no longer shown: they
    // would blame the port or the board for calls the interruption cut short.
    bool interrupted() const;
    // The line that says what the interruption means for the board.
    std::string line() const { return interruptionLine(where_); }

  private:
    void warn();

    std::function<void()> warnProgramming_;
    InterruptedAt where_{};
    std::optional<interruption::Shield> shield_;
    bool signalSeen_ = false;  // the shield noticed the first signal
    bool warned_ = false;
};

}  // namespace zq::cli
