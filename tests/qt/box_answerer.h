#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QtTest/QtTest>

#include <functional>

namespace zq::test {

struct SeenBox {
    QString title;
    QString text;
    QMessageBox::Icon icon;
    bool ownedByDialog;
    QString detail;
};

// Answers every message box that comes up, as a user pressing OK, and remembers it. `whileUp`
// runs while each box is up, before it is answered; a box it has already closed is left alone.
class BoxAnswerer {
  public:
    explicit BoxAnswerer(QWidget* dialog = nullptr, std::function<void()> whileUp = {})
        : whileUp_(std::move(whileUp)), dialog_(dialog) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { answer(); });
        timer_.start(0);
    }
    QList<SeenBox> boxes;

    QStringList texts() const {
        QStringList all;
        for (const SeenBox& box : boxes) {
            all << box.text;
        }
        return all;
    }

  private:
    void answer() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) {
            return;
        }
        boxes.append({box->windowTitle(), box->text(), box->icon(), box->parentWidget() == dialog_,
                      box->detailedText()});
        QPointer<QMessageBox> guard(box);
        if (whileUp_) {
            whileUp_();
        }
        if (guard != nullptr && guard->isVisible()) {
            QTest::mouseClick(guard->button(QMessageBox::Ok), Qt::LeftButton);
        }
    }
    std::function<void()> whileUp_;
    QWidget* dialog_;
    QTimer timer_;
};

}  // namespace zq::test
