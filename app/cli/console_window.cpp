#include "app/cli/console_window.h"

#include "text/messages.h"

namespace zq::cli {

void ConsoleWindow::showMessage(BoxStyle style, std::string_view text) {
    // A box ends whatever transfer the bar was showing; its text must not share the bar's line.
    statusLine_.finish();
    std::ostream& to = style == BoxStyle::Plain ? out_ : err_;
    to << text << '\n';
    to.flush();
    if (text == messages::CannotOpenPort && explainOpenFailure_) {
        const std::string reason = explainOpenFailure_();
        if (!reason.empty()) {
            err_ << reason << '\n';
            err_.flush();
        }
    }
}

// A terminal has no owner to leave out: the unowned box reads the same.
void ConsoleWindow::showUnownedMessage(BoxStyle style, std::string_view text) {
    showMessage(style, text);
}

}  // namespace zq::cli
