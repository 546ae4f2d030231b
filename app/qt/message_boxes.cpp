#include "app/qt/message_boxes.h"

#include <QMessageBox>

namespace zq::qt {

void showMessageBox(QWidget* owner, BoxStyle style, const QString& text, const QString& detail) {
    const bool error = style == BoxStyle::Error;
    QMessageBox box(error ? QMessageBox::Critical : QMessageBox::NoIcon,
                    error ? QStringLiteral("Error") : QStringLiteral("OK"), text, QMessageBox::Ok,
                    owner);
    box.setTextFormat(Qt::PlainText);
    if (!detail.isEmpty()) {
        box.setDetailedText(detail);
    }
    box.setWindowModality(owner != nullptr ? Qt::WindowModal : Qt::ApplicationModal);
    box.exec();
}

QString DialogMessages::detailFor(BoxStyle style) const {
    if (style != BoxStyle::Error || !explain_) {
        return {};
    }
    return QString::fromStdString(explain_());
}

void DialogMessages::showMessage(BoxStyle style, std::string_view text) {
    showMessageBox(window_, style, QString::fromUtf8(text.data(), static_cast<int>(text.size())),
                   detailFor(style));
}

void DialogMessages::showUnownedMessage(BoxStyle style, std::string_view text) {
    showMessageBox(nullptr, style, QString::fromUtf8(text.data(), static_cast<int>(text.size())),
                   detailFor(style));
}

}  // namespace zq::qt
