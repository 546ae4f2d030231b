#pragma once

#include <QWidget>

#include <string>

#include "owner/owner_window.h"
#include "transfer/outcome.h"

namespace zq::qt {

// An error box ("Error", error icon, one OK button) with `detail` behind "Show Details..." when
// it has any; modal, owned by `owner` when there is one.
void showErrorBox(QWidget* owner, std::string_view text, const std::string& detail);

// The operation's message boxes: modal, one OK button, owned by the window (the port-close
// failure box has no owner).
class DialogBoxes : public OwnerWindow {
  public:
    // With `outcome`, an error box carries the reason the command line gives for the same
    // outcome on `device`, and its advice, as its detailed text; the box's own text stays as it
    // is.
    explicit DialogBoxes(QWidget* window, const Outcome* outcome = nullptr, std::string device = {})
        : window_(window), outcome_(outcome), device_(std::move(device)) {}
    void showMessage(BoxStyle style, std::string_view text) override;
    void showUnownedMessage(BoxStyle style, std::string_view text) override;

  private:
    QWidget* window_;
    const Outcome* outcome_;
    std::string device_;
};

}  // namespace zq::qt
