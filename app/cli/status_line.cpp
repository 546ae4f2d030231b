#include "app/cli/status_line.h"

namespace zq::cli {

// Blanks are used to clear rather than an erase-line escape, so a terminal without ANSI support
// shows the same thing.
void StatusLine::erase() {
    err_ << '\r' << std::string(text_.size(), ' ') << '\r';
}

void StatusLine::show(std::string_view text) {
    err_ << '\r' << text;
    if (showing_ && text.size() < text_.size()) {
        err_ << std::string(text_.size() - text.size(), ' ');
    }
    err_.flush();
    text_ = text;
    showing_ = true;
}

void StatusLine::finish() {
    if (!showing_) {
        return;
    }
    err_ << '\n';
    err_.flush();
    text_.clear();
    showing_ = false;
}

void StatusLine::clear() {
    if (!showing_) {
        return;
    }
    erase();
    err_.flush();
    text_.clear();
    showing_ = false;
}

void StatusLine::printAbove(std::string_view line) {
    if (showing_) {
        erase();
    }
    err_ << line << '\n';
    if (showing_) {
        err_ << text_;
    }
    err_.flush();
}

}  // namespace zq::cli
