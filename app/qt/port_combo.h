#pragma once

#include <QComboBox>
#include <QString>

namespace zq::qt {

// The port box. Closed, it is as narrow as the template makes it, so it shows the part of the
// chosen port's name that tells it apart (USB0, pts/2), struck out when the port has gone; the
// open list shows whole lines.
class PortCombo : public QComboBox {
  public:
    using QComboBox::QComboBox;

    void showChosen(const QString& shortName, bool gone);
    // What the closed box shows, and whether struck out.
    const QString& shownText() const { return shown_; }
    bool shownGone() const { return gone_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QString shown_;
    bool gone_ = false;
};

}  // namespace zq::qt
