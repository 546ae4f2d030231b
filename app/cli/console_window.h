#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>

#include "app/cli/interruption_text.h"
#include "app/cli/status_line.h"
#include "serial/interruption.h"
#include "serial/owner_window.h"

namespace zq::cli {

// The owner window of a headless run: each message box becomes its text on a line of its own,
// "OK" boxes on standard output and "Error" boxes on standard error, so a script can tell them
// apart and a log keeps the exact wording a user would have seen.
class ConsoleWindow : public OwnerWindow {
  public:
    ConsoleWindow(std::ostream& out, std::ostream& err, StatusLine& statusLine)
        : out_(out), err_(err), statusLine_(statusLine) {}

    // The box that says the port could not be opened is fixed text; this supplies the line
    // printed after it with the system's reason.
    void explainOpenFailureWith(std::function<std::string()> explain) {
        explainOpenFailure_ = std::move(explain);
    }
    // The line printed after any other error box: the system's reason for the port call that
    // failed, when one did. Empty when there is nothing to say.
    void explainFailureWith(std::function<std::string()> explain) {
        explainFailure_ = std::move(explain);
    }

    void showMessage(BoxStyle style, std::string_view text) override;
    void showUnownedMessage(BoxStyle style, std::string_view text) override;
    // Knows the stage so that an interruption can be explained. From the moment the whole image
    // has gone, the first signal no longer cuts the short wait for the board's acknowledgement:
    // once it comes the board is programming, the signal only warns, and the operation goes on
    // to the board's result. Without it the signal ends the run as before.
    void operationStage(OperationStage stage) override;

    // Whether a signal has ended the operation. Once it has, boxes are no longer shown: they
    // would blame the port or the board for calls the interruption cut short.
    bool interrupted() const;
    // The line that says what the interruption means for the board.
    std::string interruptionLine() const { return cli::interruptionLine(where_); }

  private:
    std::ostream& out_;
    std::ostream& err_;
    StatusLine& statusLine_;
    std::function<std::string()> explainOpenFailure_;
    std::function<std::string()> explainFailure_;
    void warnProgramming();

    InterruptedAt where_{};
    std::optional<interruption::Shield> shield_;
    bool signalSeen_ = false;  // the shield noticed the first signal
    bool warned_ = false;
};

}  // namespace zq::cli
