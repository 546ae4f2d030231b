#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "owner/owner_window.h"

namespace zq::test {

struct ShownBox {
    BoxStyle style;
    bool owned;
    std::string text;

    bool operator==(const ShownBox&) const = default;
};

// Stands for the dialog: keeps every message box in the order shown.
class RecordingWindow : public OwnerWindow {
  public:
    void showMessage(BoxStyle style, std::string_view text) override {
        boxes.push_back({style, true, std::string(text)});
    }
    void showUnownedMessage(BoxStyle style, std::string_view text) override {
        boxes.push_back({style, false, std::string(text)});
    }
    std::vector<ShownBox> boxes;
};

class RecordingProgress : public ProgressTarget {
  public:
    void setRange(std::uint32_t maximum) override { ranges.push_back(maximum); }
    void setPosition(std::uint32_t position) override { positions.push_back(position); }
    std::vector<std::uint32_t> ranges;
    std::vector<std::uint32_t> positions;
};

inline ShownBox errorBox(std::string_view text) {
    return {BoxStyle::Error, true, std::string(text)};
}
inline ShownBox plainBox(std::string_view text) {
    return {BoxStyle::Plain, true, std::string(text)};
}

}  // namespace zq::test
