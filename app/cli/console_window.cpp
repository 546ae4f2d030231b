#include "app/cli/console_window.h"

#include "text/messages.h"

namespace zq::cli {

void ConsoleWindow::showMessage(BoxStyle style, std::string_view text) {
    if (interrupted()) {
        return;
    }
    // A box ends whatever transfer the bar was showing; its text must not share the bar's line.
    statusLine_.finish();
    std::ostream& to = style == BoxStyle::Plain ? out_ : err_;
    to << text << '\n';
    to.flush();
    const bool openFailed = text == messages::CannotOpenPort;
    std::string reason;
    if (openFailed && explainOpenFailure_) {
        reason = explainOpenFailure_();
    } else if (style == BoxStyle::Error && explainFailure_) {
        reason = explainFailure_();
    }
    if (!reason.empty()) {
        err_ << reason << '\n';
        err_.flush();
    }
}

// A terminal has no owner to leave out: the unowned box reads the same.
void ConsoleWindow::showUnownedMessage(BoxStyle style, std::string_view text) {
    showMessage(style, text);
}

void ConsoleWindow::operationStage(OperationStage stage) {
    if (where_.stage == OperationStage::Loader) {
        where_.imageLoaded = true;
    }
    where_.stage = stage;
    if (stage == OperationStage::AwaitingAck && !shield_) {
        shield_.emplace([this](int) {
            signalSeen_ = true;
            if (where_.stage == OperationStage::Programming) {
                warnProgramming();
            }
        });
    }
    if (stage == OperationStage::Programming && signalSeen_) {
        warnProgramming();
    }
}

void ConsoleWindow::warnProgramming() {
    if (warned_) {
        return;
    }
    warned_ = true;
    statusLine_.finish();
    err_ << programmingNotice() << '\n';
    err_.flush();
}

bool ConsoleWindow::interrupted() const {
    // A signal the shield held off counts once the board is programming: its result is then
    // reported. Before that (no acknowledgement came) it ends the run like any other.
    const bool absorbed =
        shield_ && shield_->absorbedFirst() && where_.stage == OperationStage::Programming;
    return interruption::count() > (absorbed ? 1 : 0);
}

}  // namespace zq::cli
