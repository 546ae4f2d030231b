#include "app/qt/port_combo.h"

#include <QFontMetrics>
#include <QStyleOptionComboBox>
#include <QStylePainter>

namespace zq::qt {

void PortCombo::showChosen(const QString& shortName, bool gone) {
    shown_ = shortName;
    gone_ = gone;
    update();
}

void PortCombo::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionComboBox option;
    initStyleOption(&option);
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    QFont shownFont = font();
    shownFont.setStrikeOut(gone_);
    painter.setFont(shownFont);
    // Cut from the left if it must be: the end of a name tells ports apart.
    const int room =
        style()
            ->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this)
            .width();
    option.currentText = QFontMetrics(shownFont).elidedText(shown_, Qt::ElideLeft, room);
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

}  // namespace zq::qt
