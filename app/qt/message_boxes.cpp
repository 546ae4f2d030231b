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

std::string explained(const Outcome& outcome, const std::string& device, bool closing) {
    if (closing) {
        return explainCloseFailure(outcome, device);
    }
    std::string detail = explainOutcome(outcome, device);
    if (const std::string advice = latencyAdvice(outcome); !advice.empty()) {
        detail += (detail.empty() ? "" : "\n") + advice;
    }
    return detail;
}

}  // namespace

ExplainedBoxes dialogBoxes(QWidget* window, const Outcome* outcome, std::string device) {
    return ExplainedBoxes(
        [window](bool owned, BoxStyle style, std::string_view text, const std::string& detail) {
            showBox(owned ? window : nullptr, style, text, detail);
        },
        outcome,
        [device = std::move(device)](const Outcome& outcome, bool closing) {
            return explained(outcome, device, closing);
        });
}

void showErrorBox(QWidget* owner, std::string_view text, const std::string& detail) {
    showBox(owner, BoxStyle::Error, text, detail);
}

}  // namespace zq::qt
