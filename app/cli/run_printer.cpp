#include "app/cli/run_printer.h"

#include "app/records/safe_text.h"

namespace zq::cli {

std::string_view stageName(OperationStage stage) {
    switch (stage) {
        case OperationStage::Probing:
            return "probing";
        case OperationStage::Loader:
            return "loader";
        case OperationStage::Firmware:
            return "firmware";
        case OperationStage::AwaitingAck:
            return "awaiting the image's acknowledgement";
        case OperationStage::Programming:
            return "programming";
    }
    return "?";
}

RunPrinter::RunPrinter(std::ostream& out, std::ostream& err, const std::vector<std::string>& ports,
                       bool json, Platform& clock)
    : out_(out), err_(err), clock_(clock), json_(json) {
    for (const std::string& port : ports) {
        boards_.push_back({.prefix = ports.size() > 1 ? printableName(port) + ": " : std::string(),
                           .clock = &clock});
    }
}

std::size_t RunPrinter::addBoard(std::string_view port) {
    const std::lock_guard hold(lock_);
    Board board{.prefix = printableName(port) + ": ", .clock = &clock_};
    if (!released_.empty()) {
        const std::size_t reused = released_.back();
        released_.pop_back();
        boards_[reused] = std::move(board);
        return reused;
    }
    boards_.push_back(std::move(board));
    return boards_.size() - 1;
}

void RunPrinter::releaseBoard(std::size_t board) {
    const std::lock_guard hold(lock_);
    released_.push_back(board);
}

void RunPrinter::useClock(std::size_t board, Platform& clock) {
    const std::lock_guard hold(lock_);
    boards_[board].clock = &clock;
}

RunPrinter::Board& RunPrinter::reporting(std::size_t board) {
    Board& b = boards_[board];
    b.now = b.clock->now();
    return b;
}

void RunPrinter::printLocked(std::ostream& to, std::string_view text, const std::string& prefix,
                             bool keepBar) {
    if (keepBar && printAboveLocked(prefix + std::string(text))) {
        return;
    }
    makeRoomLocked();
    // Every line of a box carries the port, so a log filtered by port keeps whole boxes.
    std::string lines;
    std::size_t from = 0;
    for (;;) {
        const std::size_t end = text.find('\n', from);
        lines += prefix;
        lines += text.substr(from, end == std::string_view::npos ? end : end - from);
        lines += '\n';
        if (end == std::string_view::npos) {
            break;
        }
        from = end + 1;
    }
    if (&to == &out_) {
        err_.flush();
    }
    to << lines;
    to.flush();
    // No line about a board is lost while the other stream works: a result goes to standard
    // error, and in text mode a box or its reason to standard output (in JSON mode that holds
    // only JSON).
    std::ostream& other = &to == &out_ ? err_ : out_;
    if (!to && other && (&to == &out_ || !json_)) {
        other << lines;
        other.flush();
    }
    redrawLocked();
}

void RunPrinter::box(std::size_t board, BoxStyle style, std::string_view text,
                     std::string_view reason) {
    if (json_) {
        return;
    }
    const std::lock_guard hold(lock_);
    reporting(board);
    // A box is the outcome of the stage it came in: the stage's end is said before it, so that
    // a log reads in the order things happened.
    endStageLocked(board);
    const std::string& prefix = boards_[board].prefix;
    printLocked(style == BoxStyle::Plain ? out_ : err_, text, prefix);
    if (!reason.empty()) {
        printLocked(err_, reason, prefix);
    }
}

bool RunPrinter::namesPort(std::size_t board, std::string_view device) {
    const std::lock_guard hold(lock_);
    return boards_[board].prefix == printableName(device) + ": ";
}

void RunPrinter::note(std::size_t board, std::string_view line) {
    const std::lock_guard hold(lock_);
    printLocked(err_, line, boards_[board].prefix, true);
}

void RunPrinter::result(std::string_view line, bool toErr) {
    const std::lock_guard hold(lock_);
    printLocked(toErr ? err_ : out_, line, {});
}

}  // namespace zq::cli
