#include "app/cli/terminal_printer.h"

#include <algorithm>
#include <cstdio>

namespace zq::cli {

namespace {

constexpr std::size_t BarWidth = 40;

// Redrawing a block of many lines on every chunk would cost more than the transfer itself.
constexpr std::chrono::milliseconds RedrawEvery{100};

// A stage's name in a column of its own, so that what follows lines up from one stage to the next.
std::string column(std::string_view name) {
    return std::string(name) + std::string(name.size() < 12 ? 12 - name.size() : 1, ' ');
}

bool isTransfer(OperationStage stage) {
    return stage == OperationStage::Loader || stage == OperationStage::Firmware;
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

TerminalPrinter::Tally& TerminalPrinter::tally(std::size_t board) {
    if (tallies_.size() <= board) {
        tallies_.resize(board + 1);
    }
    return tallies_[board];
}

bool TerminalPrinter::printAboveLocked(std::string_view line) {
    if (!single() || !statusLine_.showing()) {
        return false;
    }
    statusLine_.printAbove(line);
    return true;
}

void TerminalPrinter::makeRoomLocked() {
    if (single()) {
        // A box ends whatever transfer the bar was showing; the bar stays above it.
        statusLine_.finish();
    } else {
        clearBlockLocked();
    }
}

void TerminalPrinter::redrawLocked() {
    if (!single() && !closed_) {
        drawLocked(true);
    }
}

void TerminalPrinter::progress(std::size_t board, std::string_view line) {
    const std::lock_guard hold(lock_);
    if (!closed_) {
        printLocked(err_, line, boards_[board].prefix, true);
    }
}

// A finished run leaves no waiting on screen: a transfer keeps its bar as it stands (what was
// sent), the programming its time, and a handshake nothing, since what follows it says how it went.
void TerminalPrinter::endStageLocked(std::size_t board) {
    Board& b = boards_[board];
    if (!b.stage) {
        return;
    }
    const OperationStage stage = *b.stage;
    Tally& t = tally(board);
    if (closed_) {
        // Nothing is drawn any more.
    } else if (single()) {
        if (stage == OperationStage::Probing) {
            statusLine_.clear();
        } else {
            statusLine_.show(isTransfer(stage) ? render(board)
                                               : column(stageName(stage)) + took(board));
            statusLine_.finish();
        }
    } else if (isTransfer(stage) && b.maximum != 0) {
        // Each board keeps one line in the block; it says all of this once the board is finished.
        t.sent += t.sent.empty() ? "" : " + ";
        if (b.position < b.maximum) {
            t.sent += std::to_string(b.position) + " of ";
        }
        t.sent += std::to_string(b.maximum);
    } else if (stage == OperationStage::Programming) {
        t.took = took(board);
    }
    b.stage.reset();
}

std::chrono::milliseconds TerminalPrinter::programmingTime(std::size_t board) {
    const Board& b = boards_[board];
    return tally(board).programming.value_or(
        std::chrono::duration_cast<std::chrono::milliseconds>(b.now - b.stageStart));
}

std::string TerminalPrinter::took(std::size_t board) {
    char text[32];
    std::snprintf(text, sizeof text, "took %.1f s",
                  std::chrono::duration<double>(programmingTime(board)).count());
    return text;
}

void TerminalPrinter::stage(std::size_t board, OperationStage stage) {
    // The wait for the image's acknowledgement is the firmware stage's last ~25 ms.
    if (stage == OperationStage::AwaitingAck) {
        return;
    }
    const std::lock_guard hold(lock_);
    if (closed_) {
        return;
    }
    Board& b = reporting(board);
    endStageLocked(board);
    Tally& t = tally(board);
    if (!t.done.empty()) {
        // Another try of a finished board.
        t = Tally{};
    }
    b.stage = stage;
    b.stageStart = b.now;
    // The firmware's range is set just before its stage begins; every other stage starts afresh.
    if (stage != OperationStage::Firmware) {
        b.maximum = 0;
        b.position = 0;
    }
    t.programming.reset();
    drawLocked(true);
}

void TerminalPrinter::range(std::size_t board, std::uint32_t maximum) {
    const std::lock_guard hold(lock_);
    if (closed_) {
        return;
    }
    Board& b = reporting(board);
    b.maximum = maximum;
    b.position = 0;
    drawLocked(true);
}

void TerminalPrinter::position(std::size_t board, std::uint32_t position) {
    const std::lock_guard hold(lock_);
    if (closed_) {
        return;
    }
    reporting(board).position = position;
    drawLocked(false);
}

void TerminalPrinter::countdown(std::size_t board, std::chrono::milliseconds elapsed) {
    const std::lock_guard hold(lock_);
    if (closed_) {
        return;
    }
    if (reporting(board).stage != OperationStage::Programming) {
        return;
    }
    tally(board).programming = elapsed;
    drawLocked(false);
}

void TerminalPrinter::finished(std::size_t board, std::string_view outcome) {
    const std::lock_guard hold(lock_);
    if (closed_) {
        return;
    }
    reporting(board);
    endStageLocked(board);
    tally(board).done = outcome;
    if (!single()) {
        drawLocked(true);
    }
}

std::string TerminalPrinter::render(std::size_t board) {
    const Board& b = boards_[board];
    const Tally& t = tally(board);
    if (!b.stage) {
        std::string did = t.sent.empty() ? std::string() : "sent " + t.sent + " bytes";
        if (!t.took.empty()) {
            did += (did.empty() ? "programming " : ", programming ") + t.took;
        }
        return b.prefix + t.done + (t.done.empty() || did.empty() ? "" : ": ") + did;
    }
    const std::string padded = b.prefix + column(stageName(*b.stage));
    switch (*b.stage) {
        case OperationStage::Probing:
            return padded + "waiting for the board to answer the handshake";
        case OperationStage::Programming: {
            // The board gives no progress of its own; the count is the time it is known to take.
            const auto left =
                std::max(ProgrammingTakes - programmingTime(board), std::chrono::milliseconds(0));
            char text[64];
            std::snprintf(text, sizeof text, "the EEPROM, about %.1f s left",
                          static_cast<double>(left.count()) / 1000.0);
            return padded + text;
        }
        default:
            return padded + renderProgress(b.position, b.maximum);
    }
}

void TerminalPrinter::clearBlockLocked() {
    if (drawn_ == 0) {
        return;
    }
    err_ << "\x1b[" << drawn_ << "A\r\x1b[J";
    drawn_ = 0;
}

void TerminalPrinter::drawLocked(bool force) {
    if (single()) {
        statusLine_.show(render(0));
        return;
    }
    // On the run's clock: the boards' own may each count from their own start.
    const std::chrono::nanoseconds now = clock_.now();
    if (!force && now - lastDraw_ < RedrawEvery) {
        return;
    }
    lastDraw_ = now;
    std::string block;
    if (drawn_ != 0) {
        block += "\x1b[" + std::to_string(drawn_) + "A";
    }
    for (std::size_t i = 0; i < boards_.size(); ++i) {
        block += "\r\x1b[2K" + render(i) + "\n";
    }
    err_ << block;
    err_.flush();
    drawn_ = boards_.size();
}

void TerminalPrinter::close() {
    const std::lock_guard hold(lock_);
    if (single()) {
        statusLine_.finish();
    }
    drawn_ = 0;
    closed_ = !single();
}

}  // namespace zq::cli
