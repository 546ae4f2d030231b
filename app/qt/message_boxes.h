#pragma once

#include <QWidget>

#include "owner/owner_window.h"
#include "transfer/outcome.h"

namespace zq::qt {

// The operation's message boxes: modal, one OK button, owned by the window (the port-close
// failure box has no owner).
class DialogBoxes : public OwnerWindow {
  public:
    // With `outcome`, an error box carries what the system said about the failure behind it as
    // its detailed text; the box's own text stays as it is.
    explicit DialogBoxes(QWidget* window, const Outcome* outcome = nullptr)
        : window_(window), outcome_(outcome) {}
    void showMessage(BoxStyle style, std::string_view text) override;
    void showUnownedMessage(BoxStyle style, std::string_view text) override;

  private:
    QWidget* window_;
    const Outcome* outcome_;
};

}  // namespace zq::qt
