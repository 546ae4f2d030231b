// The window, driven through its real buttons and keys on the offscreen platform, against the
// simulated line (virtual time, no real waiting).
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest/QtTest>

#include <chrono>
#include <functional>

#include "app/qt/updater_dialog.h"
#include "box_answerer.h"
#include "held_port.h"
#include "sim/simulated_line.h"
#include "support/sim_fixture.h"
#include "text/messages.h"

namespace {

using std::chrono::milliseconds;
using zq::qt::UpdaterDialog;
using zq::sim::BoardMode;
using zq::sim::SimulatedLine;
using zq::test::BoxAnswerer;
using zq::test::handedBack;

QString text(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<int>(s.size()));
}

// A Download that fails at the wake bytes, its box answered: the port stays held.
void holdPort(SimulatedLine& line, UpdaterDialog& dialog) {
    zq::test::refuseWakeBytes(line);
    BoxAnswerer answerer(&dialog);
    QTest::mouseClick(dialog.downloadButton, Qt::LeftButton);
    QVERIFY(line.isOpen());
    line.faults.writeFault = nullptr;
}

class UpdaterDialogTest : public QObject {
    Q_OBJECT

  private slots:
    void cleanup() {
        // Every test leaves no window behind.
        for (QWidget* w : QApplication::topLevelWidgets()) {
            QVERIFY2(!w->isVisible(), qPrintable(w->windowTitle()));
        }
    }

    void downloadThatSucceedsShowsOnePlainBoxAndAFullBar() {
        SimulatedLine line({.mode = BoardMode::Download});
        UpdaterDialog dialog(line);
        dialog.show();
        BoxAnswerer answerer(&dialog);
        QTest::mouseClick(dialog.downloadButton, Qt::LeftButton);
        QCOMPARE(answerer.boxes.size(), 1);
        QCOMPARE(answerer.boxes[0].title, QStringLiteral("OK"));
        QCOMPARE(answerer.boxes[0].text, text(zq::messages::Success.download));
        QCOMPARE(answerer.boxes[0].icon, QMessageBox::NoIcon);
        QVERIFY(answerer.boxes[0].ownedByDialog);
        QCOMPARE(dialog.progressBar->maximum(), 5728);
        QCOMPARE(dialog.progressBar->value(), 5728);
        QVERIFY(!line.isOpen());
        QCOMPARE(dialog.cursor().shape(), Qt::ArrowCursor);
        dialog.close();
    }

    // The box reads as it always has; the reason and the advice the command line gives for the
    // same outcome are its detailed text, and --latency as the window takes it mends a late board.
    void eachFailureBoxCarriesTheCommandLinesReasonAndAdvice() {
        using Fault = std::function<void(SimulatedLine&)>;
        struct Row {
            zq::sim::BoardConfig board;
            Fault fault;
            int port;
            QPushButton* UpdaterDialog::*button;
            milliseconds latency;
            std::string_view text;
            QString detail;
        };
        const Fault writeFails = [](SimulatedLine& line) {
            zq::test::refuseWakeBytes(line);
            line.faults.error = {.code = 5, .text = "Input/output error", .deviceGone = true};
        };
        // Putting the settings back fails as the mode check fails: a call whose result nothing
        // acts on gives no reason of its own.
        const Fault restoreFails = [](SimulatedLine& line) {
            line.faults.setStateFails = [](const zq::LineSettings& settings) {
                return settings.fields == SimulatedLine::initialSettings().fields;
            };
        };
        const QString writeFailed = QStringLiteral(
            "the board or its adapter went away during the loader's transfer (/dev/ttyS0: write "
            "failed: Input/output error (error 5); the device has gone: unplugged, switched off, "
            "or the line hung up)");
        const QString otherMode = QStringLiteral(
            "the board answered the handshake, so it runs firmware (update mode): its own, or the "
            "image a Download loaded before its update phase failed; use update, or flash, which "
            "chooses by the board's mode");
        const QString openFailed = QStringLiteral(
            "/dev/ttyS1: no such device here; 'zq417-flash ports' lists the serial ports that are "
            "present.");
        const QString late = QStringLiteral(
            "a late reply: the board's answer to an earlier request (Ack, AA 0E 0D 00 00 00) came "
            "after its window and was read 34.2 ms after that request, where the Ack of the "
            "TransferFirmware packet was due\nReplies came late or in parts, as USB serial "
            "adapters send them when they hold small replies back; try --latency 40, or set the "
            "adapter's latency timer to 1 ms.");
        const zq::sim::BoardConfig down{.mode = BoardMode::Download};
        const zq::sim::BoardConfig up{.mode = BoardMode::Update};
        const zq::sim::BoardConfig lateUp{.mode = BoardMode::Update,
                                          .replyDelay = milliseconds(30)};
        const auto download = &UpdaterDialog::downloadButton;
        const auto update = &UpdaterDialog::updateButton;
        namespace m = zq::messages;
        for (const Row& row : QList<Row>{
                 {down, writeFails, 0, download, {}, m::CannotUseComPort, writeFailed},
                 {up, restoreFails, 0, download, {}, m::BoardInUpdateMode.download, otherMode},
                 {up, nullptr, 1, update, {}, m::CannotOpenPort, openFailed},
                 {lateUp, nullptr, 0, update, {}, m::AfterTransferFirmwareCommand, late},
                 {lateUp, nullptr, 0, update, milliseconds(40), m::Success.update, {}}}) {
            SimulatedLine line(row.board);
            if (row.fault) {
                row.fault(line);
            }
            UpdaterDialog dialog(line, {}, nullptr, row.latency);
            dialog.show();
            dialog.portCombo->setCurrentIndex(row.port);
            BoxAnswerer answerer(&dialog);
            QTest::mouseClick(dialog.*row.button, Qt::LeftButton);
            QCOMPARE(answerer.texts(), QStringList(text(row.text)));
            QCOMPARE(answerer.boxes[0].detail, row.detail);
            dialog.close();
        }
    }

    // No push button has the focus at start and none is the default, so Enter starts nothing;
    // Escape does not end the window; the first Tab reaches Download, then the template's order.
    void keysStartNothingAndTabGoesInTemplateOrder() {
        SimulatedLine line({.mode = BoardMode::Download});
        UpdaterDialog dialog(line);
        dialog.show();
        dialog.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        QVERIFY(qobject_cast<QPushButton*>(QApplication::focusWidget()) == nullptr);
        for (QPushButton* b : {dialog.downloadButton, dialog.exitButton, dialog.updateButton}) {
            QVERIFY(!b->isDefault());
        }
        QWidget* start =
            QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : &dialog;
        for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
            QTest::keyClick(start, key);
        }
        const QList<QWidget*> order = {dialog.downloadButton, dialog.exitButton,
                                       dialog.updateButton, dialog.portCombo,
                                       dialog.downloadButton};
        for (QWidget* expected : order) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), expected);
            if (expected == dialog.portCombo) {
                QTest::keyClick(dialog.portCombo, Qt::Key_Return);
                QTest::keyClick(dialog.portCombo, Qt::Key_Enter);
            }
        }
        QVERIFY(line.events.empty());
        QVERIFY(dialog.isVisible());
        dialog.close();
        QCOMPARE(dialog.result(), 1);
    }

    void endingWindowHandsBackAHeldPort() {
        using End = std::function<void(UpdaterDialog&)>;
        const QList<QPair<const char*, End>> ends = {
            {"Exit", [](UpdaterDialog& d) { QTest::mouseClick(d.exitButton, Qt::LeftButton); }},
            {"close box", [](UpdaterDialog& d) { d.close(); }},
            {"quit",
             [](UpdaterDialog&) {
                 QVERIFY(QMetaObject::invokeMethod(qApp, "aboutToQuit", Qt::DirectConnection));
             }},
        };
        for (const auto& [name, end] : ends) {
            SimulatedLine line({.mode = BoardMode::Download});
            UpdaterDialog dialog(line);
            dialog.show();
            holdPort(line, dialog);
            end(dialog);
            QVERIFY2(handedBack(line), name);
            dialog.hide();
        }
    }

    void heldPortThatCannotBeLetGoShowsOneUnownedBoxAndStaysPaired() {
        SimulatedLine line({.mode = BoardMode::Download});
        UpdaterDialog dialog(line);
        dialog.show();
        holdPort(line, dialog);
        line.faults.closeFailures = 1000;
        dialog.portCombo->setCurrentIndex(1);
        BoxAnswerer answerer(&dialog);
        QTest::mouseClick(dialog.updateButton, Qt::LeftButton);
        QCOMPARE(answerer.texts(), QStringList(text(zq::messages::CannotClosePort)));
        QVERIFY(!answerer.boxes[0].ownedByDialog);

        // Exit tells the user the port could not be closed, and leaves nothing behind.
        QTest::mouseClick(dialog.exitButton, Qt::LeftButton);
        QCOMPARE(answerer.texts(), QStringList(2, text(zq::messages::CannotClosePort)));
        QCOMPARE(line.timerRequests(), 0);
        QVERIFY(line.settings().fields == SimulatedLine::initialSettings().fields);
        QVERIFY(!dialog.isVisible());
    }

    void commandWhileABoxIsUpStartsNothing() {
        SimulatedLine line({.mode = BoardMode::Update});
        UpdaterDialog dialog(line);
        dialog.show();
        // The box of the mode check is up while the port is still held: an Update started
        // then would run inside the Download that waits for the box.
        BoxAnswerer answerer(&dialog, [&] { dialog.updateButton->click(); });
        QTest::mouseClick(dialog.downloadButton, Qt::LeftButton);
        QCOMPARE(answerer.boxes.size(), 1);
        QVERIFY(answerer.boxes[0].text.startsWith(
            QStringLiteral("Error occurs before download operation!")));
        // Only the handshake went out.
        QCOMPARE(line.wireFromHost().size(), std::size_t{12});
        QVERIFY(handedBack(line));
        dialog.close();
    }

    // The window keeps its size, has no close button, and shows every control whole: inside the
    // window, none over another, each text within its control.
    void controlsFitTheWindowWholeAndApart() {
        SimulatedLine line;
        UpdaterDialog dialog(line);
        QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
        QVERIFY(!(dialog.windowFlags() & Qt::WindowCloseButtonHint));
        const QList<QWidget*> controls = {
            dialog.progressBar,  dialog.downloadButton, dialog.exitButton, dialog.progressLabel,
            dialog.updateButton, dialog.portCombo,      dialog.portLabel,  dialog.versionLabel};
        for (qsizetype i = 0; i < controls.size(); ++i) {
            QVERIFY(dialog.rect().contains(controls[i]->geometry()));
            for (qsizetype j = i + 1; j < controls.size(); ++j) {
                QVERIFY(!controls[i]->geometry().intersects(controls[j]->geometry()));
            }
        }
        for (QPushButton* b : {dialog.downloadButton, dialog.exitButton, dialog.updateButton}) {
            QVERIFY(b->fontMetrics().horizontalAdvance(b->text()) < b->width());
        }
        for (QLabel* l : {dialog.progressLabel, dialog.portLabel, dialog.versionLabel}) {
            QVERIFY2(l->fontMetrics().horizontalAdvance(l->text()) <= l->width(),
                     qPrintable(l->text()));
        }
    }
};

}  // namespace

QTEST_MAIN(UpdaterDialogTest)
#include "updater_dialog_test.moc"
