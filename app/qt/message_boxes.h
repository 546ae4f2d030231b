#pragma once

#include <QString>
#include <QWidget>
#include <functional>
#include <string>

#include "serial/owner_window.h"

namespace zq::qt {

// The operation's message boxes: modal, one OK button, owned by the window (the port-close
// failure box has no owner).
class DialogMessages : public OwnerWindow {
  public:
    explicit DialogMessages(QWidget* window) : window_(window) {}
    // Supplies the detailed text of an error box: the system's reason for the port call that
    // failed, when one did. The box's own text stays as it is.
    void explainFailuresWith(std::function<std::string()> explain) {
        explain_ = std::move(explain);
    }
    void showMessage(BoxStyle style, std::string_view text) override;
    void showUnownedMessage(BoxStyle style, std::string_view text) override;

  private:
    QString detailFor(BoxStyle style) const;

    QWidget* window_;
    std::function<std::string()> explain_;
};

void showMessageBox(QWidget* owner, BoxStyle style, const QString& text,
                    const QString& detail = {});

}  // namespace zq::qt
