#pragma once

#include <functional>

#include "owner/owner_window.h"

namespace zq::qt {

// The owner window of an operation the window runs: its boxes, with what a signal means for
// them. A signal asks the window to end, so from then on no box is shown: the window ends without
// waiting for a click (whatever the operation's outcome, a board left to program included), and a
// box would blame the port or the board for calls the interruption cut short.
class OperationBoxes : public OwnerWindow {
  public:
    // `beforeBox` runs before each box would come up, whether it then does or not.
    OperationBoxes(OwnerWindow& boxes, std::function<void()> beforeBox)
        : boxes_(boxes), beforeBox_(std::move(beforeBox)) {}

    void showMessage(BoxStyle style, std::string_view text) override;
    void showUnownedMessage(BoxStyle style, std::string_view text) override;

  private:
    bool boxesShown();

    OwnerWindow& boxes_;
    std::function<void()> beforeBox_;
};

}  // namespace zq::qt
