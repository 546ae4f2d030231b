#include "app/qt/message_boxes.h"

#include <QMessageBox>

#include "app/explain/reason_text.h"

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

std::string failureDetail(const Outcome& outcome, std::string_view device) {
    std::string detail = explainOutcome(outcome, device);
    if (const std::string advice = latencyAdvice(outcome); !advice.empty()) {
        detail += (detail.empty() ? "" : "\n") + advice;
    }
    return detail;
}

}  // namespace

void showErrorBox(QWidget* owner, std::string_view text, const std::string& detail) {
    showBox(owner, BoxStyle::Error, text, detail);
}

void DialogBoxes::showMessage(BoxStyle style, std::string_view text) {
    showBox(window_, style, text, outcome_ ? failureDetail(*outcome_, device_) : std::string());
}

void DialogBoxes::showUnownedMessage(BoxStyle style, std::string_view text) {
    showBox(nullptr, style, text,
            outcome_ ? explainCloseFailure(*outcome_, device_) : std::string());
}

}  // namespace zq::qt
