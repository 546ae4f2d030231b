#pragma once

#include <functional>
#include <optional>

#include "owner/owner_window.h"
#include "serial/interruption.h"

namespace zq::qt {

// The owner window of an operation the window runs: its boxes, with what a signal means for
// them. After a signal no box is shown: the window ends without waiting for a click, and a box
// would blame the port or the board for calls the interruption cut short. From the moment the
// whole image has gone the first signal no longer cuts the operation's waits, so that a board
// that acknowledged the image is left to program its EEPROM and report its result.
class OperationBoxes : public OwnerWindow {
  public:
    // `beforeBox` runs before each box would come up, whether it then does or not.
    OperationBoxes(OwnerWindow& boxes, std::function<void()> beforeBox)
        : boxes_(boxes), beforeBox_(std::move(beforeBox)) {}

    void showMessage(BoxStyle style, std::string_view text) override;
    void showUnownedMessage(BoxStyle style, std::string_view text) override;
    void operationStage(OperationStage stage) override;

  private:
    bool boxesShown();

    OwnerWindow& boxes_;
    std::function<void()> beforeBox_;
    std::optional<interruption::Shield> shield_;
};

}  // namespace zq::qt
