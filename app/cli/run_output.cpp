#include "app/cli/run_output.h"

#include <algorithm>
#include <cstdio>

#include "app/cli/json_result.h"
#include "app/cli/safe_text.h"

namespace zq::cli {

namespace {

constexpr std::size_t BarWidth = 40;

// Redrawing a block of many lines on every chunk would cost more than the transfer itself.
constexpr std::chrono::milliseconds RedrawEvery{100};

std::string seconds(std::chrono::steady_clock::duration d) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", std::chrono::duration<double>(d).count());
    return text;
}

// A stage's name in a column of its own, so that what follows lines up from one stage to the next.
std::string column(std::string_view name) {
    return std::string(name) + std::string(name.size() < 12 ? 12 - name.size() : 1, ' ');
}

}  // namespace

std::string renderProgress(std::uint32_t position, std::uint32_t maximum) {
    // Widened so that position * 100 cannot overflow; clamped so that the fill never exceeds
    // the bar whatever a caller reports.
    const std::uint64_t done = std::min<std::uint64_t>(position, maximum);
    const std::uint64_t percent = maximum == 0 ? 100 : done * 100 / maximum;
    const std::size_t filled = maximum == 0 ? BarWidth : done * BarWidth / maximum;
    std::string bar = "[" + std::string(filled, '#') + std::string(BarWidth - filled, '.') + "]";
    char numbers[64];
    std::snprintf(numbers, sizeof numbers, " %3u%%  %u / %u bytes", static_cast<unsigned>(percent),
                  static_cast<unsigned>(done), static_cast<unsigned>(maximum));
    return bar + numbers;
}

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

RunOutput::RunOutput(std::ostream& out, std::ostream& err, ProgressStyle style,
                     std::vector<std::string> ports, bool json)
    : out_(out), err_(err), style_(style), json_(json), statusLine_(err) {
    for (const std::string& port : ports) {
        Board board;
        board.prefix = ports.size() > 1 ? printableName(port) + ": " : std::string();
        boards_.push_back(std::move(board));
    }
}

std::size_t RunOutput::addBoard(std::string_view port) {
    const std::lock_guard hold(lock_);
    Board board;
    board.prefix = printableName(port) + ": ";
    boards_.push_back(std::move(board));
    return boards_.size() - 1;
}

void RunOutput::printLocked(std::ostream& to, std::string_view text, const std::string& prefix,
                            bool keepBar) {
    if (keepBar && style_ == ProgressStyle::Terminal && boards_.size() == 1 &&
        statusLine_.showing()) {
        statusLine_.printAbove(prefix + std::string(text));
        return;
    }
    if (style_ == ProgressStyle::Terminal) {
        if (boards_.size() == 1) {
            // A box ends whatever transfer the bar was showing; the bar stays above it.
            statusLine_.finish();
        } else {
            clearBlockLocked();
        }
    }
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
    if (style_ == ProgressStyle::Terminal && boards_.size() > 1) {
        drawLocked(true);
    }
}

void RunOutput::box(std::size_t board, BoxStyle style, std::string_view text,
                    std::string_view reason) {
    if (json_) {
        return;
    }
    const std::lock_guard hold(lock_);
    Board& b = boards_[board];
    // A box is the outcome of the stage it came in: the stage's end is said before it, so that
    // a log reads in the order things happened.
    endStage(b);
    b.stage.reset();
    const std::string& prefix = b.prefix;
    printLocked(style == BoxStyle::Plain ? out_ : err_, text, prefix);
    if (!reason.empty()) {
        printLocked(err_, reason, prefix);
    }
}

void RunOutput::note(std::size_t board, std::string_view line) {
    const std::lock_guard hold(lock_);
    printLocked(err_, line, boards_[board].prefix, true);
}

void RunOutput::result(std::string_view line, bool toErr) {
    const std::lock_guard hold(lock_);
    printLocked(toErr ? err_ : out_, line, {});
}

void RunOutput::lineLocked(const Board& b, std::string_view text) {
    // Stamped as the results' "started" is, so a log of standard error lines up with them.
    err_ << isoUtc(std::chrono::system_clock::now()) << ' ' << b.prefix << text << '\n';
    err_.flush();
}

void RunOutput::progress(std::size_t board, std::string_view line) {
    if (style_ == ProgressStyle::None) {
        return;
    }
    const std::lock_guard hold(lock_);
    Board& b = boards_[board];
    if (style_ == ProgressStyle::Lines) {
        // As a box: what the stage came to, said after its end.
        endStage(b);
        b.stage.reset();
        lineLocked(b, line);
    } else {
        printLocked(err_, line, b.prefix, true);
    }
}

void RunOutput::endStage(Board& b) {
    if (!b.stage || style_ == ProgressStyle::None) {
        return;
    }
    if (style_ == ProgressStyle::Terminal) {
        endStageOnTerminal(b);
        return;
    }
    std::string line = std::string(stageName(*b.stage)) + ": ended";
    if (b.maximum != 0 &&
        (*b.stage == OperationStage::Loader || *b.stage == OperationStage::Firmware)) {
        line += ", " + std::to_string(b.position) + " of " + std::to_string(b.maximum) + " bytes";
    }
    lineLocked(b, line + " in " + seconds(Clock::now() - b.stageStart));
}

// A finished run leaves no waiting on screen: a transfer keeps its bar as it stands (what was
// sent), the programming its time, and a handshake nothing, since what follows it says how it went.
void RunOutput::endStageOnTerminal(Board& b) {
    const bool transfer =
        *b.stage == OperationStage::Loader || *b.stage == OperationStage::Firmware;
    if (boards_.size() == 1) {
        if (*b.stage == OperationStage::Probing) {
            statusLine_.clear();
            return;
        }
        statusLine_.show(transfer ? render(b) : column(stageName(*b.stage)) + took(b));
        statusLine_.finish();
        return;
    }
    // Each board keeps one line in the block; it says all of this once the board is finished.
    if (transfer && b.maximum != 0) {
        b.sent += b.sent.empty() ? "" : " + ";
        if (b.position < b.maximum) {
            b.sent += std::to_string(b.position) + " of ";
        }
        b.sent += std::to_string(b.maximum);
    } else if (*b.stage == OperationStage::Programming) {
        b.took = took(b);
    }
}

std::chrono::milliseconds RunOutput::programmingTime(const Board& b) {
    return b.programming.value_or(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - b.stageStart));
}

std::string RunOutput::took(const Board& b) {
    char text[32];
    std::snprintf(text, sizeof text, "took %.1f s",
                  std::chrono::duration<double>(programmingTime(b)).count());
    return text;
}

void RunOutput::stage(std::size_t board, OperationStage stage) {
    // The wait for the image's acknowledgement is the firmware stage's last ~25 ms.
    if (style_ == ProgressStyle::None || stage == OperationStage::AwaitingAck) {
        return;
    }
    const std::lock_guard hold(lock_);
    Board& b = boards_[board];
    endStage(b);
    if (!b.done.empty()) {
        // Another try of a finished board.
        b.done.clear();
        b.sent.clear();
        b.took.clear();
    }
    b.stage = stage;
    b.stageStart = Clock::now();
    // The firmware's range is set just before its stage begins; every other stage starts afresh.
    if (stage != OperationStage::Firmware) {
        b.maximum = 0;
        b.position = 0;
    }
    b.programming.reset();
    if (style_ == ProgressStyle::Lines) {
        lineLocked(b, std::string(stageName(stage)) + ": started");
        return;
    }
    drawLocked(true);
}

void RunOutput::range(std::size_t board, std::uint32_t maximum) {
    if (style_ == ProgressStyle::None) {
        return;
    }
    const std::lock_guard hold(lock_);
    boards_[board].maximum = maximum;
    boards_[board].position = 0;
    if (style_ == ProgressStyle::Terminal) {
        drawLocked(true);
    }
}

void RunOutput::position(std::size_t board, std::uint32_t position) {
    if (style_ == ProgressStyle::None) {
        return;
    }
    const std::lock_guard hold(lock_);
    boards_[board].position = position;
    if (style_ == ProgressStyle::Terminal) {
        drawLocked(false);
    }
}

void RunOutput::countdown(std::size_t board, std::chrono::milliseconds elapsed) {
    if (style_ != ProgressStyle::Terminal) {
        return;
    }
    const std::lock_guard hold(lock_);
    Board& b = boards_[board];
    if (b.stage != OperationStage::Programming) {
        return;
    }
    b.programming = elapsed;
    drawLocked(false);
}

void RunOutput::finished(std::size_t board, std::string_view outcome) {
    if (style_ == ProgressStyle::None) {
        return;
    }
    const std::lock_guard hold(lock_);
    Board& b = boards_[board];
    endStage(b);
    b.stage.reset();
    b.done = outcome;
    if (style_ == ProgressStyle::Terminal && boards_.size() > 1) {
        drawLocked(true);
    }
}

std::string RunOutput::render(const Board& b) const {
    if (!b.stage) {
        std::string did = b.sent.empty() ? std::string() : "sent " + b.sent + " bytes";
        if (!b.took.empty()) {
            did += (did.empty() ? "programming " : ", programming ") + b.took;
        }
        return b.prefix + b.done + (b.done.empty() || did.empty() ? "" : ": ") + did;
    }
    const std::string padded = b.prefix + column(stageName(*b.stage));
    switch (*b.stage) {
        case OperationStage::Probing:
            return padded + "waiting for the board to answer the handshake";
        case OperationStage::Programming: {
            // The board gives no progress of its own; the count is the time it is known to take.
            const auto left =
                std::max(ProgrammingTakes - programmingTime(b), std::chrono::milliseconds(0));
            char text[64];
            std::snprintf(text, sizeof text, "the EEPROM, about %.1f s left",
                          static_cast<double>(left.count()) / 1000.0);
            return padded + text;
        }
        default:
            return padded + renderProgress(b.position, b.maximum);
    }
}

void RunOutput::clearBlockLocked() {
    if (drawn_ == 0) {
        return;
    }
    err_ << "\x1b[" << drawn_ << "A\r\x1b[J";
    drawn_ = 0;
}

void RunOutput::drawLocked(bool force) {
    const Clock::time_point now = Clock::now();
    if (!force && boards_.size() > 1 && now - lastDraw_ < RedrawEvery) {
        return;
    }
    lastDraw_ = now;
    if (boards_.size() == 1) {
        statusLine_.show(render(boards_.front()));
        return;
    }
    std::string block;
    if (drawn_ != 0) {
        block += "\x1b[" + std::to_string(drawn_) + "A";
    }
    for (const Board& b : boards_) {
        block += "\r\x1b[2K" + render(b) + "\n";
    }
    err_ << block;
    err_.flush();
    drawn_ = boards_.size();
}

void RunOutput::close() {
    const std::lock_guard hold(lock_);
    if (style_ == ProgressStyle::Terminal && boards_.size() == 1) {
        statusLine_.finish();
    }
    // The finished block stays on screen and the summary follows it, not redrawn any more.
    drawn_ = 0;
    if (style_ == ProgressStyle::Terminal && boards_.size() > 1) {
        style_ = ProgressStyle::None;
    }
}

}  // namespace zq::cli
