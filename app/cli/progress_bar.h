#pragma once

#include <cstdint>
#include <string>

#include "app/cli/status_line.h"
#include "serial/owner_window.h"

namespace zq::cli {

// The progress target of a terminal: a bar on the status line, redrawn on every position.
class ProgressBar : public ProgressTarget {
  public:
    explicit ProgressBar(StatusLine& line) : line_(line) {}

    // A new range means a new transfer (Download sends the image twice: to the loader, then to
    // the firmware), so the finished bar stays on screen and the new one starts below it.
    void setRange(std::uint32_t maximum) override;
    void setPosition(std::uint32_t position) override;

  private:
    void draw();

    StatusLine& line_;
    std::uint32_t maximum_ = 0;
    std::uint32_t position_ = 0;
};

// The bar's text for a position within 0..maximum; a position past the end shows a full bar.
std::string renderProgress(std::uint32_t position, std::uint32_t maximum);

}  // namespace zq::cli
