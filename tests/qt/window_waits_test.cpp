// While an operation waits (the 5 s before the status query above all) the window still paints
// and runs its timers, and user input stays queued until the operation ends. The click is put in
// the window system's queue as a real one would be; the wait runs in the simulated line's virtual
// time. Offscreen.
#include <qpa/qwindowsysteminterface.h>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest/QtTest>

#include <chrono>
#include <functional>

#include "app/qt/updater_dialog.h"
#include "box_answerer.h"
#include "sim/simulated_line.h"
#include "support/sim_fixture.h"
#include "text/messages.h"

namespace {

using namespace std::chrono_literals;
using zq::qt::UpdaterDialog;
using zq::sim::SimulatedLine;

// Counts the paints and presses that reach a widget while the operation holds the port.
class Seen : public QObject {
  public:
    Seen(QWidget* widget, const SimulatedLine& line) : line_(line) {
        widget->installEventFilter(this);
    }
    int paintsDuringOperation = 0;
    int pressesDuringOperation = 0;

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (line_.isOpen()) {
            paintsDuringOperation += event->type() == QEvent::Paint ? 1 : 0;
            pressesDuringOperation += event->type() == QEvent::MouseButtonPress ? 1 : 0;
        }
        return false;
    }

  private:
    const SimulatedLine& line_;
};

void queueClick(QWidget* button) {
    QWindow* window = button->window()->windowHandle();
    const QPointF local = button->mapTo(button->window(), button->rect().center());
    const QPointF global = button->mapToGlobal(button->rect().center());
    QWindowSystemInterface::handleMouseEvent<QWindowSystemInterface::AsynchronousDelivery>(
        window, local, global, Qt::LeftButton, Qt::LeftButton, QEvent::MouseButtonPress);
    QWindowSystemInterface::handleMouseEvent<QWindowSystemInterface::AsynchronousDelivery>(
        window, local, global, Qt::NoButton, Qt::LeftButton, QEvent::MouseButtonRelease);
}

class WindowWaitsTest : public QObject {
    Q_OBJECT

  private slots:
    void theWindowAnswersDuringTheStatusWaitWhileAClickWaits() {
        SimulatedLine line({.mode = zq::sim::BoardMode::Update});
        UpdaterDialog dialog(line);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        Seen exit(dialog.exitButton, line);
        Seen label(dialog.progressLabel, line);

        // The Update's first pause of 100 ms or more is the 5 s before the status query: the
        // user clicks Exit as it begins, a timer is due, and part of the window needs painting.
        std::optional<zq::sim::SimTime> waitBegan;
        std::optional<zq::sim::SimTime> timerRan;
        int queuedAtEndOfWait = -1;
        line.faults.onSleep = [&](std::chrono::milliseconds duration) {
            if (duration < 50ms) {
                return;
            }
            if (!waitBegan) {
                waitBegan = line.clock.now();
                queueClick(dialog.exitButton);
                QTimer::singleShot(0, &dialog, [&] { timerRan = line.clock.now(); });
                dialog.progressLabel->update();
            } else if (line.clock.now() - *waitBegan < 5000ms) {
                queuedAtEndOfWait = QWindowSystemInterface::windowSystemEventsQueued();
            }
        };

        zq::test::BoxAnswerer answerer;
        QTest::mouseClick(dialog.updateButton, Qt::LeftButton);

        QCOMPARE(answerer.texts(),
                 QStringList(QString::fromUtf8(zq::messages::Success.update.data())));
        QVERIFY(waitBegan.has_value());
        // Answered inside the wait, not after it.
        QVERIFY(timerRan.has_value());
        QVERIFY(*timerRan >= *waitBegan && *timerRan < *waitBegan + 5000ms);
        QVERIFY(label.paintsDuringOperation > 0);
        // The click was still queued as the wait ended, and reached no button meanwhile.
        QVERIFY(queuedAtEndOfWait >= 2);
        QCOMPARE(exit.pressesDuringOperation, 0);
        // The click never reaches the window: the box that ends the operation blocks it.
        QVERIFY(dialog.isVisible());
        dialog.close();
    }

    // A request to end that comes during the wait, whether the window manager's close request
    // (input to Qt, so it waits) or an Exit pressed by something other than the user (a timer,
    // an accessibility tool): the operation still uses the port, so the window ends only once
    // the operation has and its box has been answered, and the port is handed back as found. The
    // box stays up a while, as it does for a user.
    void aRequestToEndDuringTheWaitIsCarriedOutAfterTheBox() {
        using Ask = std::function<void(UpdaterDialog&)>;
        const QList<QPair<const char*, Ask>> asks = {
            {"close request",
             [](UpdaterDialog& d) {
                 QWindowSystemInterface::handleCloseEvent<
                     QWindowSystemInterface::AsynchronousDelivery>(d.windowHandle());
             }},
            {"Exit from a timer",
             [](UpdaterDialog& d) {
                 QTimer::singleShot(0, d.exitButton, [&d] { d.exitButton->click(); });
             }},
        };
        for (const auto& [what, ask] : asks) {
            SimulatedLine line({.mode = zq::sim::BoardMode::Update});
            UpdaterDialog dialog(line);
            dialog.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dialog));
            bool asked = false;
            bool visibleAfterRequest = false;
            line.faults.onSleep = [&](std::chrono::milliseconds duration) {
                if (duration < 50ms) {
                    return;
                }
                if (!asked) {
                    asked = true;
                    ask(dialog);
                } else {
                    visibleAfterRequest = dialog.isVisible();
                }
            };
            zq::test::BoxAnswerer answerer(nullptr, [] { QTest::qWait(20); });
            QTest::mouseClick(dialog.updateButton, Qt::LeftButton);
            QCOMPARE(answerer.texts(),
                     QStringList(QString::fromUtf8(zq::messages::Success.update.data())));
            QVERIFY2(visibleAfterRequest, what);
            QVERIFY2(!dialog.isVisible(), what);
            QCOMPARE(dialog.result(), 1);
            // The line set up once and put back once, both by the operation itself.
            QCOMPARE(line.eventsOf(zq::sim::PortEvent::Kind::SetState).size(), std::size_t{2});
            QVERIFY(zq::test::handedBack(line));
        }
    }
};

}  // namespace

QTEST_MAIN(WindowWaitsTest)
#include "window_waits_test.moc"
