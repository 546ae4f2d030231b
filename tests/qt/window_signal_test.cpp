// SIGTERM and SIGHUP end the window through its own path: a port it holds is handed back, also
// when the signal comes while a box of a running operation is up. Offscreen, simulated line.
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest/QtTest>

#include <csignal>
#include <optional>
#include <span>

#include "app/qt/termination_signals.h"
#include "app/qt/updater_dialog.h"
#include "box_answerer.h"
#include "sim/simulated_line.h"

namespace {

using zq::qt::UpdaterDialog;
using zq::sim::SimulatedLine;

void failWakeBytes(SimulatedLine& line) {
    line.faults.writeFault = [](std::span<const std::uint8_t> bytes) -> std::optional<long> {
        if (bytes.size() == 2 && bytes[0] == 0xFF && bytes[1] == 0xFF) {
            return -1;
        }
        return std::nullopt;
    };
}

bool handedBack(const SimulatedLine& line) {
    return !line.isOpen() && line.settings().fields == SimulatedLine::initialSettings().fields &&
           line.timeouts() == SimulatedLine::initialTimeouts() && line.timerRequests() == 0;
}

using zq::test::BoxAnswerer;

class WindowSignalTest : public QObject {
    Q_OBJECT

  private slots:
    void cleanup() {
        // A quit leaves the thread's loops ending at once; a finished application loop resets
        // that for the next case.
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        QCoreApplication::exec();
    }

    void signalWhileIdleEndsTheWindowWithThePortHandedBack() {
        for (int number : {SIGTERM, SIGHUP}) {
            SimulatedLine line({.mode = zq::sim::BoardMode::Download});
            failWakeBytes(line);
            UpdaterDialog dialog(line);
            const zq::qt::TerminationSignals termination([&] { dialog.endFromSystem(); });
            dialog.show();
            {
                BoxAnswerer answer;
                QTest::mouseClick(dialog.downloadButton, Qt::LeftButton);
                QCOMPARE(answer.boxes.size(), 1);
            }
            QVERIFY(line.isOpen());
            QTimer::singleShot(0, [number] { std::raise(number); });
            QTimer::singleShot(10000, &dialog, [&] { dialog.done(7); });  // only if it hangs
            dialog.exec();
            QVERIFY(dialog.result() != 7);
            QVERIFY(handedBack(line));
            dialog.hide();
            cleanup();
        }
    }

    void signalWhileABoxIsUpEndsTheOperationAndHandsThePortBack() {
        SimulatedLine line({.mode = zq::sim::BoardMode::Download});
        failWakeBytes(line);
        UpdaterDialog dialog(line);
        const zq::qt::TerminationSignals termination([&] { dialog.endFromSystem(); });
        dialog.show();
        // The box of the failed wake bytes is up and the port held when the signal comes.
        BoxAnswerer watcher(&dialog, [&] {
            if (watcher.boxes.size() == 1) {
                std::raise(SIGTERM);
                QTest::qWait(50);  // the notifier runs inside the box's loop
            }
        });
        QTest::mouseClick(dialog.downloadButton, Qt::LeftButton);
        QCOMPARE(watcher.boxes.size(), 1);
        QVERIFY(handedBack(line));
        dialog.hide();
    }

    // The window answers during the 5 s before the status query, and so sees the signal there;
    // the operation still uses the port, so it ends first, then the window.
    void signalDuringTheStatusWaitEndsTheWindowAfterTheOperation() {
        SimulatedLine line({.mode = zq::sim::BoardMode::Update});
        UpdaterDialog dialog(line);
        const zq::qt::TerminationSignals termination([&] { dialog.endFromSystem(); });
        dialog.show();
        bool raised = false;
        line.faults.onSleep = [&](std::chrono::milliseconds duration) {
            if (duration >= std::chrono::milliseconds(50) && !raised) {
                raised = true;
                std::raise(SIGTERM);
            }
        };
        BoxAnswerer watcher;
        QTimer::singleShot(0, &dialog,
                           [&] { QTest::mouseClick(dialog.updateButton, Qt::LeftButton); });
        QTimer::singleShot(10000, &dialog, [&] { dialog.done(7); });  // only if it hangs
        dialog.exec();
        QVERIFY(raised);
        QCOMPARE(watcher.texts(),
                 QStringList({QStringLiteral(
                     "Update success!\nPlease reset hardware system to run new firmware!")}));
        QVERIFY(dialog.result() != 7);
        QVERIFY(handedBack(line));
        dialog.hide();
    }
};

}  // namespace

QTEST_MAIN(WindowSignalTest)
#include "window_signal_test.moc"
