#include "app/cli/progress_bar.h"

#include <algorithm>
#include <cstdio>

namespace zq::cli {

namespace {
constexpr std::size_t BarWidth = 40;
}

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

}  // namespace zq::cli
