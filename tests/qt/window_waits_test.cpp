// While an operation waits (the 5 s before the status query above all) the window still paints
// and runs its timers, and user input stays queued until the operation ends. Clicks and close
// requests are put in the window system's queue as real ones would be; the wait runs in the
// simulated line's virtual time. Offscreen.
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
using Queued = QWindowSystemInterface::AsynchronousDelivery;

// Counts the events of a kind that reach a widget while the operation holds the port.
class Seen : public QObject {
  public:
    Seen(QWidget* widget, QEvent::Type type, const SimulatedLine& line) : type_(type), line_(line) {
        widget->installEventFilter(this);
    }
    int duringOperation = 0;

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        duringOperation += line_.isOpen() && event->type() == type_ ? 1 : 0;
        return false;
    }

  private:
    QEvent::Type type_;
    const SimulatedLine& line_;
};

void queueClick(QWidget* button) {
    QWindow* window = button->window()->windowHandle();
    const QPointF local = button->mapTo(button->window(), button->rect().center());
    const QPointF global = button->mapToGlobal(button->rect().center());
    QWindowSystemInterface::handleMouseEvent<Queued>(window, local, global, Qt::LeftButton,
                                                     Qt::LeftButton, QEvent::MouseButtonPress);
    QWindowSystemInterface::handleMouseEvent<Queued>(window, local, global, Qt::NoButton,
                                                     Qt::LeftButton, QEvent::MouseButtonRelease);
}

class WindowWaitsTest : public QObject {
    Q_OBJECT

  private slots:
    // Something asks the window to end as the Update's status wait begins: the user's click on
    // Exit, the window manager's close request (both input to Qt, so they wait) and an Exit
    // pressed by something other than the user (a timer, an accessibility tool). Each ends the
    // window, but only once the operation has ended and its box has been answered: the operation
    // still uses the port, which is then handed back as found. A click elsewhere is dropped as the
    // box drops it. The box stays up a while, as it does for a user.
    void theWindowAnswersDuringTheStatusWaitAndEndsOnlyAfterTheBox() {
        struct Ask {
            const char* what;
            std::function<void(UpdaterDialog&)> ask;
            bool endsWindow;
        };
        const Ask asks[] = {
            {"user's click on Exit", [](UpdaterDialog& d) { queueClick(d.exitButton); }, true},
            {"user's click on Update", [](UpdaterDialog& d) { queueClick(d.updateButton); }, false},
            {"close request",
             [](UpdaterDialog& d) {
                 QWindowSystemInterface::handleCloseEvent<Queued>(d.windowHandle());
             },
             true},
            {"Exit from a timer",
             [](UpdaterDialog& d) {
                 QTimer::singleShot(0, d.exitButton, [&d] { d.exitButton->click(); });
             },
             true},
        };
        for (const Ask& a : asks) {
            SimulatedLine line({.mode = zq::sim::BoardMode::Update});
            UpdaterDialog dialog(line);
            dialog.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dialog));
            const Seen presses(dialog.exitButton, QEvent::MouseButtonPress, line);
            const Seen paints(dialog.progressLabel, QEvent::Paint, line);

            // The Update's first pause of 50 ms or more is the 5 s before the status query: a
            // timer is due then, and part of the window needs painting.
            std::optional<zq::sim::SimTime> waitBegan;
            std::optional<zq::sim::SimTime> timerRan;
            bool visibleUnderTheBox = false;
            int queuedAtEndOfWait = -1;
            line.faults.onSleep = [&](std::chrono::milliseconds duration) {
                if (duration < 50ms) {
                    return;
                }
                if (!waitBegan) {
                    waitBegan = line.clock.now();
                    a.ask(dialog);
                    QTimer::singleShot(0, &dialog, [&] { timerRan = line.clock.now(); });
                    dialog.progressLabel->update();
                } else if (line.clock.now() - *waitBegan < 5000ms) {
                    queuedAtEndOfWait = QWindowSystemInterface::windowSystemEventsQueued();
                }
            };
            zq::test::BoxAnswerer answerer(nullptr, [&] {
                visibleUnderTheBox = dialog.isVisible();
                QTest::qWait(20);
            });
            QTest::mouseClick(dialog.updateButton, Qt::LeftButton);

            QCOMPARE(answerer.texts(),
                     QStringList(QString::fromUtf8(zq::messages::Success.update.data())));
            // Answered inside the wait, not after it.
            QVERIFY2(timerRan && *timerRan >= *waitBegan && *timerRan < *waitBegan + 5000ms,
                     a.what);
            QVERIFY2(paints.duringOperation > 0, a.what);
            QCOMPARE(presses.duringOperation, 0);
            QVERIFY2(visibleUnderTheBox, a.what);
            QCOMPARE(dialog.isVisible(), !a.endsWindow);
            if (!a.endsWindow) {
                // The click was still queued as the wait ended.
                QVERIFY(queuedAtEndOfWait >= 2);
                dialog.close();
            }
            // The line set up once and put back once, both by the operation itself.
            QCOMPARE(line.eventsOf(zq::sim::PortEvent::Kind::SetState).size(), std::size_t{2});
            QVERIFY2(zq::test::handedBack(line), a.what);
        }
    }
};

}  // namespace

QTEST_MAIN(WindowWaitsTest)
#include "window_waits_test.moc"
