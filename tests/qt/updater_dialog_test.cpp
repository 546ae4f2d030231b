// The window, driven through its real buttons and keys on the offscreen platform, against the
// simulated line (virtual time, no real waiting).
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QtTest/QtTest>

#include <functional>
#include <optional>
#include <span>

#include "app/qt/dialog_units.h"
#include "app/qt/updater_dialog.h"
#include "box_answerer.h"
#include "sim/simulated_line.h"
#include "text/messages.h"

namespace {

using zq::qt::UpdaterDialog;

using zq::test::BoxAnswerer;

QString text(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<int>(s.size()));
}

// A board in download mode whose port takes no wake bytes: the Download that meets it leaves the
// port open at the download settings, as the next operation would reuse it.
void holdPortByFailedWake(zq::sim::SimulatedLine& line, UpdaterDialog& dialog) {
    line.faults.writeFault = [](std::span<const std::uint8_t> bytes) -> std::optional<long> {
        if (bytes.size() == 2 && bytes[0] == 0xFF && bytes[1] == 0xFF) {
            return -1;
        }
        return std::nullopt;
    };
    BoxAnswerer answerer(&dialog);
    QTest::mouseClick(dialog.downloadButton, Qt::LeftButton);
    QCOMPARE(answerer.boxes.size(), 1);
    QCOMPARE(answerer.boxes[0].text, text(zq::messages::CannotUseComPort));
    QVERIFY(line.isOpen());
    QVERIFY(!(line.settings().fields == zq::sim::SimulatedLine::initialSettings().fields));
    QCOMPARE(line.timerRequests(), 1);
    line.faults.writeFault = nullptr;
}

// The port is closed, as it was found, and every timer request is paired.
bool handedBack(const zq::sim::SimulatedLine& line) {
    return !line.isOpen() &&
           line.settings().fields == zq::sim::SimulatedLine::initialSettings().fields &&
           line.timeouts() == zq::sim::SimulatedLine::initialTimeouts() &&
           line.timerRequests() == 0;
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

    void downloadWithBoardInDownloadModeSucceedsWithOneBox() {
        zq::sim::SimulatedLine line({.mode = zq::sim::BoardMode::Download});
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

    void downloadWithBoardInUpdateModeShowsOnlyTheModeError() {
        zq::sim::SimulatedLine line({.mode = zq::sim::BoardMode::Update});
        UpdaterDialog dialog(line);
        dialog.show();
        BoxAnswerer answerer(&dialog);
        QTest::mouseClick(dialog.downloadButton, Qt::LeftButton);
        QCOMPARE(answerer.boxes.size(), 1);
        QCOMPARE(answerer.boxes[0].title, QStringLiteral("Error"));
        QCOMPARE(answerer.boxes[0].icon, QMessageBox::Critical);
        QVERIFY(answerer.boxes[0].text.startsWith(
            QStringLiteral("Error occurs before download operation!")));
        // Only the handshake went out: the update phase was not attempted.
        QCOMPARE(line.wireFromHost().size(), std::size_t{12});
        dialog.close();
    }

    // The box reads as it always has; what the system said about the failing call is its
    // detailed text.
    void aFailedPortCallGivesTheSystemsReasonAsTheBoxDetail() {
        zq::sim::SimulatedLine line({.mode = zq::sim::BoardMode::Download});
        line.faults.writeFault = [](std::span<const std::uint8_t> bytes) -> std::optional<long> {
            if (bytes.size() == 2 && bytes[0] == 0xFF) {  // the wake bytes
                return -1;
            }
            return std::nullopt;
        };
        line.faults.error = {.code = 5, .text = "Input/output error", .deviceGone = true};
        UpdaterDialog dialog(line);
        dialog.show();
        BoxAnswerer answerer(&dialog);
        QTest::mouseClick(dialog.downloadButton, Qt::LeftButton);
        QCOMPARE(answerer.boxes.size(), 1);
        QCOMPARE(answerer.boxes[0].text, text(zq::messages::CannotUseComPort));
        QCOMPARE(answerer.boxes[0].detail,
                 QStringLiteral("write failed: Input/output error (error 5); the device has gone: "
                                "unplugged, switched off, or the line hung up"));

        // A box no failing call led to has no detail, even when a call whose result nothing
        // acts on failed before it: here putting the settings back as the mode check fails.
        line.faults.writeFault = nullptr;
        line.faults.setStateFails = [](const zq::LineSettings& settings) {
            return settings.fields == zq::sim::SimulatedLine::initialSettings().fields;
        };
        line.board.config().mode = zq::sim::BoardMode::Update;
        QTest::mouseClick(dialog.downloadButton, Qt::LeftButton);
        QCOMPARE(answerer.boxes.size(), 2);
        QCOMPARE(answerer.boxes[1].detail, QString());
        dialog.close();
    }

    void updateWithAbsentPortSaysSo() {
        zq::sim::SimulatedLine line;
        line.deviceName = "COM2";
        UpdaterDialog dialog(line);
        dialog.show();
        BoxAnswerer answerer(&dialog);
        QTest::mouseClick(dialog.updateButton, Qt::LeftButton);
        QCOMPARE(answerer.boxes.size(), 1);
        QCOMPARE(answerer.boxes[0].text, text(zq::messages::CannotOpenPort));
        QCOMPARE(answerer.boxes[0].detail, QStringLiteral("open failed: no such device"));
        dialog.close();
    }

    void portListOffersFourPortsFirstSelected() {
        zq::sim::SimulatedLine line;
        UpdaterDialog dialog(line);
        QCOMPARE(dialog.portCombo->count(), 4);
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(dialog.portCombo->itemText(i), QStringLiteral("COM%1").arg(i + 1));
        }
        QCOMPARE(dialog.portCombo->currentIndex(), 0);
        QVERIFY(!dialog.portCombo->isEditable());
    }

    void escapeAndEnterStartNothing() {
        zq::sim::SimulatedLine line;
        UpdaterDialog dialog(line);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QVERIFY(dialog.isVisible());
        dialog.portCombo->setFocus();
        QTest::keyClick(dialog.portCombo, Qt::Key_Return);
        QTest::keyClick(dialog.portCombo, Qt::Key_Enter);
        QVERIFY(line.events.empty());
        QVERIFY(dialog.isVisible());
        for (QPushButton* b : {dialog.downloadButton, dialog.exitButton, dialog.updateButton}) {
            QVERIFY(!b->isDefault());
        }
        dialog.close();
        QCOMPARE(dialog.result(), 1);
    }

    void enterRightAfterStartStartsNothing() {
        zq::sim::SimulatedLine line({.mode = zq::sim::BoardMode::Download});
        UpdaterDialog dialog(line);
        dialog.show();
        dialog.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        QVERIFY(qobject_cast<QPushButton*>(QApplication::focusWidget()) == nullptr);
        QWidget* target =
            QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : &dialog;
        QTest::keyClick(target, Qt::Key_Return);
        QTest::keyClick(target, Qt::Key_Enter);
        QVERIFY(line.events.empty());
        // The first Tab reaches Download.
        QTest::keyClick(target, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), dialog.downloadButton);
        dialog.close();
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
            zq::sim::SimulatedLine line({.mode = zq::sim::BoardMode::Download});
            UpdaterDialog dialog(line);
            dialog.show();
            holdPortByFailedWake(line, dialog);
            end(dialog);
            QVERIFY2(handedBack(line), name);
            dialog.hide();
        }
    }

    void heldPortThatCannotBeLetGoShowsOneBoxAndStaysPaired() {
        zq::sim::SimulatedLine line({.mode = zq::sim::BoardMode::Download});
        UpdaterDialog dialog(line);
        dialog.show();
        holdPortByFailedWake(line, dialog);
        line.faults.closeFailures = 1000;
        line.faults.error = {.code = 5, .text = "Input/output error"};
        dialog.portCombo->setCurrentIndex(1);
        BoxAnswerer answerer(&dialog);
        QTest::mouseClick(dialog.updateButton, Qt::LeftButton);
        QCOMPARE(answerer.boxes.size(), 1);
        QCOMPARE(answerer.boxes[0].text, text(zq::messages::CannotClosePort));
        QCOMPARE(answerer.boxes[0].detail,
                 QStringLiteral("close failed: Input/output error (error 5)"));
        QVERIFY(!answerer.boxes[0].ownedByDialog);
        QVERIFY(line.eventsOf(zq::sim::PortEvent::Kind::OpenFailed).empty());
        QCOMPARE(line.timerRequests(), 1);  // still held, with its request

        // Exit tells the user the port could not be closed, and leaves nothing behind.
        QTest::mouseClick(dialog.exitButton, Qt::LeftButton);
        QCOMPARE(answerer.boxes.size(), 2);
        QCOMPARE(answerer.boxes[1].text, text(zq::messages::CannotClosePort));
        QCOMPARE(line.timerRequests(), 0);
        QVERIFY(line.settings().fields == zq::sim::SimulatedLine::initialSettings().fields);
        QVERIFY(!dialog.isVisible());
    }

    void commandWhileABoxIsUpStartsNothing() {
        zq::sim::SimulatedLine line({.mode = zq::sim::BoardMode::Update});
        UpdaterDialog dialog(line);
        dialog.show();
        // The box of the mode check is up while the port is still held: an Update started
        // then would run inside the Download that waits for the box.
        BoxAnswerer answerer(&dialog, [&] { dialog.updateButton->click(); });
        QTest::mouseClick(dialog.downloadButton, Qt::LeftButton);
        QCOMPARE(answerer.boxes.size(), 1);
        QVERIFY(answerer.boxes[0].text.startsWith(
            QStringLiteral("Error occurs before download operation!")));
        QCOMPARE(line.wireFromHost().size(), std::size_t{12});
        QVERIFY(handedBack(line));
        dialog.close();
    }

    void tabMovesThroughTheFourControlsInTemplateOrder() {
        zq::sim::SimulatedLine line;
        UpdaterDialog dialog(line);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QApplication::setActiveWindow(&dialog);
        dialog.downloadButton->setFocus();
        const QList<QWidget*> order = {dialog.exitButton, dialog.updateButton, dialog.portCombo,
                                       dialog.downloadButton};
        for (QWidget* expected : order) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), expected);
        }
        QTest::mouseClick(dialog.exitButton, Qt::LeftButton);
        QCOMPARE(dialog.result(), 1);
        QVERIFY(!dialog.isVisible());
    }

    void controlsHaveTheTemplateTextsAndGeometry() {
        zq::sim::SimulatedLine line;
        UpdaterDialog dialog(line);
        const zq::qt::DialogUnits du(dialog.font());
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Firmware Updater"));
        QCOMPARE(dialog.size(), QSize(du.x(224), du.y(67)));
        QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
        QVERIFY(!(dialog.windowFlags() & Qt::WindowCloseButtonHint));
        QVERIFY(!(dialog.windowFlags() & Qt::WindowSystemMenuHint));
        QCOMPARE(dialog.progressBar->geometry(), du.rect(13, 19, 198, 12));
        QCOMPARE(dialog.downloadButton->geometry(), du.rect(85, 41, 38, 14));
        QCOMPARE(dialog.exitButton->geometry(), du.rect(174, 41, 37, 14));
        QCOMPARE(dialog.progressLabel->geometry(), du.rect(13, 9, 100, 8));
        QCOMPARE(dialog.updateButton->geometry(), du.rect(129, 41, 38, 14));
        QCOMPARE(dialog.portCombo->geometry().topLeft(), du.rect(13, 44, 38, 53).topLeft());
        QCOMPARE(dialog.portCombo->width(), du.x(38));
        QCOMPARE(dialog.portLabel->geometry(), du.rect(13, 35, 52, 8));
        QCOMPARE(dialog.versionLabel->geometry(), du.rect(144, 57, 76, 8));
        QCOMPARE(dialog.downloadButton->text(), QStringLiteral("Download"));
        QCOMPARE(dialog.exitButton->text(), QStringLiteral("Exit"));
        QCOMPARE(dialog.updateButton->text(), QStringLiteral("Update"));
        QCOMPARE(dialog.progressLabel->text(), QStringLiteral("Download / Update Progress..."));
        QCOMPARE(dialog.portLabel->text(), QStringLiteral("Port Select:"));
        QCOMPARE(dialog.versionLabel->text(), QStringLiteral("Firmware Ver 1.06_nto"));
        // Created in template order.
        const QObjectList children = dialog.children();
        QList<QWidget*> widgets;
        for (QObject* child : children) {
            if (auto* w = qobject_cast<QWidget*>(child)) {
                widgets.append(w);
            }
        }
        const QList<QWidget*> expected = {
            dialog.progressBar,  dialog.downloadButton, dialog.exitButton, dialog.progressLabel,
            dialog.updateButton, dialog.portCombo,      dialog.portLabel,  dialog.versionLabel};
        QCOMPARE(widgets, expected);
    }
};

}  // namespace

QTEST_MAIN(UpdaterDialogTest)
#include "updater_dialog_test.moc"
