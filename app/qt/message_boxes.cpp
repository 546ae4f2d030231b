#include "app/qt/message_boxes.h"

#include <QMessageBox>

namespace zq::qt {

namespace {

void showBox(QWidget* owner, BoxStyle style, std::string_view text, const std::string& detail) {
    const bool error = style == BoxStyle::Error;
    QMessageBox box(error ? QMessageBox::Critical : QMessageBox::NoIcon,
                    error ? QStringLiteral("Error") : QStringLiteral("OK"),
                    QString::fromUtf8(text.data(), static_cast<int>(text.size())), QMessageBox::Ok,
                    owner);
    box.setTextFormat(Qt::PlainText);
    if (error && !detail.empty()) {
        box.setDetailedText(QString::fromStdString(detail));
    }
    box.setWindowModality(owner != nullptr ? Qt::WindowModal : Qt::ApplicationModal);
    box.exec();
}

}  // namespace

ExplainedBoxes dialogBoxes(QWidget* window, const Outcome* outcome) {
    return ExplainedBoxes(
        [window](bool owned, BoxStyle style, std::string_view text, const std::string& detail) {
            showBox(owned ? window : nullptr, style, text, detail);
        },
        outcome);
}

}  // namespace zq::qt
