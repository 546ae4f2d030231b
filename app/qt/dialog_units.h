#pragma once

#include <QFont>
#include <QRect>

namespace zq::qt {

// Converts dialog-template units to pixels the way the Windows dialog manager does: a horizontal
// unit is a quarter of the dialog font's average character width, a vertical one an eighth of
// its height.
class DialogUnits {
  public:
    explicit DialogUnits(const QFont& font);

    int x(int units) const;
    int y(int units) const;
    QRect rect(int left, int top, int width, int height) const;

  private:
    int baseWidth_;
    int baseHeight_;
};

// Arial 8 pt, or the closest face this system has (Liberation Sans has Arial's metrics).
QFont dialogFont();

}  // namespace zq::qt
