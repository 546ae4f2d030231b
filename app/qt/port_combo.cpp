#include "app/qt/port_combo.h"

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
    option.currentText = shown_;
    if (gone_) {
        QFont struck = font();
        struck.setStrikeOut(true);
        painter.setFont(struck);
    }
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

}  // namespace zq::qt
