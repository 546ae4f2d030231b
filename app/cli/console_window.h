#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>

#include "app/cli/status_line.h"
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

    void showMessage(BoxStyle style, std::string_view text) override;
    void showUnownedMessage(BoxStyle style, std::string_view text) override;

  private:
    std::ostream& out_;
    std::ostream& err_;
    StatusLine& statusLine_;
    std::function<std::string()> explainOpenFailure_;
};

}  // namespace zq::cli
