#include "app/qt/message_boxes.h"

#include <QMessageBox>

namespace zq::qt {

void showMessageBox(QWidget* owner, BoxStyle style, const QString& text) {
    const bool error = style == BoxStyle::Error;
    QMessageBox box(error ? QMessageBox::Critical : QMessageBox::NoIcon,
                    error ? QStringLiteral("Error") : QStringLiteral("OK"), text, QMessageBox::Ok,
                    owner);
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(owner != nullptr ? Qt::WindowModal : Qt::ApplicationModal);
    box.exec();
}

void DialogMessages::showMessage(BoxStyle style, std::string_view text) {
    showMessageBox(window_, style, QString::fromUtf8(text.data(), static_cast<int>(text.size())));
}

void DialogMessages::showUnownedMessage(BoxStyle style, std::string_view text) {
    showMessageBox(nullptr, style, QString::fromUtf8(text.data(), static_cast<int>(text.size())));
}

}  // namespace zq::qt
