#pragma once

#include <cstdint>
#include <string_view>

namespace zq {

enum class BoxStyle {
    Error,  // title "Error", error icon, one OK button
    Plain,  // title "OK", no icon, one OK button
};

// Where an operation stands, for front ends that show more than the bar.
enum class OperationStage { Probing, Loader, Firmware, Programming };

// The window that owns the message boxes of an operation. Every box is modal; the port-close
// failure box alone has no owner.
class OwnerWindow {
  public:
    virtual ~OwnerWindow() = default;
    virtual void showMessage(BoxStyle style, std::string_view text) = 0;
    virtual void showUnownedMessage(BoxStyle style, std::string_view text) = 0;
    virtual void operationStage(OperationStage) {}
};

class ProgressTarget {
  public:
    virtual ~ProgressTarget() = default;
    virtual void setRange(std::uint32_t maximum) = 0;
    virtual void setPosition(std::uint32_t position) = 0;
};

}  // namespace zq
