#include "app/qt/dialog_units.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QString>

namespace zq::qt {

namespace {
// Windows measures the average width over the alphabet and rounds half up.
constexpr char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
}  // namespace

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const int alphabetWidth = metrics.horizontalAdvance(QString::fromLatin1(Alphabet));
    baseWidth_ = (alphabetWidth / 26 + 1) / 2;
    baseHeight_ = metrics.height();
}

int DialogUnits::x(int units) const {
    return (units * baseWidth_ + 2) / 4;
}
int DialogUnits::y(int units) const {
    return (units * baseHeight_ + 4) / 8;
}

QRect DialogUnits::rect(int left, int top, int width, int height) const {
    return {x(left), y(top), x(width), y(height)};
}

QFont dialogFont() {
    for (const char* family : {"Arial", "Liberation Sans", "Arimo"}) {
        if (QFontDatabase::hasFamily(QString::fromLatin1(family))) {
            QFont font(QString::fromLatin1(family));
            font.setPointSize(8);
            return font;
        }
    }
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSize(8);
    return font;
}

}  // namespace zq::qt
