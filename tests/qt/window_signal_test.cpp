// A signal ends the window through its own path: a running operation ends at its next port call
// or wait (while the board programs, with the board's result), no further box comes, a box that
// is up closes, the port is handed back, and the loops end with 128 + the signal's number.
// Offscreen, simulated line.
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest/QtTest>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <functional>
#include <optional>

#include "app/qt/termination_signals.h"
#include "app/qt/updater_dialog.h"
#include "box_answerer.h"
#include "held_port.h"
#include "serial/interruption.h"
#include "sim/simulated_line.h"
#include "support/sim_fixture.h"

namespace {

using namespace std::chrono_literals;
using zq::qt::UpdaterDialog;
using zq::sim::PortEvent;
using zq::sim::SimulatedLine;
using zq::test::handedBack;

// Runs the application's loop from `start` until the window ends it; 7 if it never does.
int runUntilTheEnd(const std::function<void()>& start) {
    QTimer::singleShot(0, start);
    QTimer guard;
    guard.callOnTimeout([] { QCoreApplication::exit(7); });
    guard.start(10000);
    return QCoreApplication::exec();
}

class WindowSignalTest : public QObject {
    Q_OBJECT

  private slots:
    void cleanup() {
        zq::interruption::resetForTests();
        // A quit leaves the thread's loops ending at once; a finished application loop resets
        // that for the next case.
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        QCoreApplication::exec();
    }

    // The port is held after a failed Download, with its box answered or still up; a box is
    // closed by the signal, not by a click: nobody may be there to answer it.
    void signalWithThePortHeldEndsTheWindowAndHandsItBack() {
        for (int number : {SIGHUP, SIGINT, SIGQUIT, SIGALRM, SIGTERM, SIGUSR1, SIGUSR2}) {
            const bool underTheBox = number == SIGHUP;
            SimulatedLine line({.mode = zq::sim::BoardMode::Download});
            zq::test::refuseWakeBytes(line);
            UpdaterDialog dialog(line);
            const zq::qt::TerminationSignals termination([&] { dialog.endFromSystem(); });
            dialog.show();
            bool raised = false;
            QTimer atTheBox;
            connect(&atTheBox, &QTimer::timeout, [&] {
                auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                if (box == nullptr || raised) {
                    return;
                }
                raised = true;
                if (!underTheBox) {
                    box->button(QMessageBox::Ok)->click();
                }
                QTimer::singleShot(0, [&] {
                    QVERIFY(line.isOpen());
                    std::raise(number);
                });
            });
            atTheBox.start(0);
            QCOMPARE(
                runUntilTheEnd([&] { QTest::mouseClick(dialog.downloadButton, Qt::LeftButton); }),
                128 + number);
            QVERIFY(raised);
            QVERIFY(handedBack(line));
            QVERIFY(!dialog.isVisible());
            cleanup();
        }
    }

    // The signal comes as a wait of the operation begins: the first pause of all, the 100 ms for
    // the loaded image to start, the 5 s while the board programs. Before the board acknowledged
    // the image the operation ends there: nothing more goes out. Once it has, the board is left to
    // program and the status query still goes out. Either way no box comes.
    void signalDuringAnOperationEndsItThenTheWindow() {
        struct Case {
            const char* what;
            zq::sim::BoardMode board;
            std::chrono::milliseconds sliceAtLeast;  // the window answers in 50 ms slices
            int signal;
            bool boardLeftToFinish;
        };
        const Case cases[] = {
            {"handshake", zq::sim::BoardMode::Update, 0ms, SIGINT, false},
            {"loader starting", zq::sim::BoardMode::Download, 50ms, SIGUSR1, false},
            {"board programming", zq::sim::BoardMode::Update, 50ms, SIGTERM, true},
        };
        for (const Case& c : cases) {
            SimulatedLine line({.mode = c.board});
            UpdaterDialog dialog(line);
            const zq::qt::TerminationSignals termination([&] { dialog.endFromSystem(); });
            dialog.show();
            std::optional<std::size_t> raisedAt;
            line.faults.onSleep = [&](std::chrono::milliseconds duration) {
                if (duration >= c.sliceAtLeast && !raisedAt) {
                    raisedAt = line.events.size();
                    std::raise(c.signal);
                }
            };
            zq::test::BoxAnswerer answerer;
            QPushButton* button =
                c.board == zq::sim::BoardMode::Update ? dialog.updateButton : dialog.downloadButton;
            const int status = runUntilTheEnd([&] { QTest::mouseClick(button, Qt::LeftButton); });
            QVERIFY2(raisedAt.has_value(), c.what);
            QVERIFY2(answerer.boxes.isEmpty(), qPrintable(answerer.texts().join('|')));
            QCOMPARE(status, 128 + c.signal);
            QVERIFY2(handedBack(line), c.what);
            QVERIFY(!dialog.isVisible());
            const bool wroteAfter = std::any_of(
                line.events.begin() + static_cast<std::ptrdiff_t>(*raisedAt), line.events.end(),
                [](const PortEvent& e) { return e.kind == PortEvent::Kind::Write && e.ok; });
            QVERIFY2(wroteAfter == c.boardLeftToFinish, c.what);
            cleanup();
        }
    }
};

}  // namespace

QTEST_MAIN(WindowSignalTest)
#include "window_signal_test.moc"
