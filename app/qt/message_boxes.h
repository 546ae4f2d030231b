#pragma once

#include <QString>
#include <QWidget>

#include "serial/owner_window.h"

namespace zq::qt {

// The operation's message boxes: modal, one OK button, owned by the window (the port-close
// failure box has no owner).
class DialogMessages : public OwnerWindow {
  public:
    explicit DialogMessages(QWidget* window) : window_(window) {}
    void showMessage(BoxStyle style, std::string_view text) override;
    void showUnownedMessage(BoxStyle style, std::string_view text) override;

  private:
    QWidget* window_;
};

void showMessageBox(QWidget* owner, BoxStyle style, const QString& text);

}  // namespace zq::qt
