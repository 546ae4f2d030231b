// The window's port list with ports beyond COM1 to COM4: a discovery source of the test's own
// (never the host's devices), plug events through an eventfd, the remembered port in a settings
// file of its own. Offscreen, simulated line.
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest/QtTest>

#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "app/ports/port_entries.h"
#include "app/qt/updater_dialog.h"
#include "box_answerer.h"
#include "held_port.h"
#include "sim/simulated_line.h"
#include "support/port_infos.h"
#include "support/sim_fixture.h"
#include "text/messages.h"

namespace {

using zq::PortInfo;
using zq::qt::UpdaterDialog;
using zq::sim::SimulatedLine;
using zq::test::BoxAnswerer;
using zq::test::ttyPort;
using zq::test::usbAdapter;

// The ports "present", and a plug event each time the test changes them.
class FakePorts {
  public:
    explicit FakePorts(std::vector<PortInfo> present) : present(std::move(present)) {}
    ~FakePorts() { ::close(events_); }
    zq::PortSource source() {
        struct Watcher final : zq::PortWatcher {
            explicit Watcher(int fd) : fd(fd) {}
            int eventDescriptor() const override { return fd; }
            bool takeEvents() override {
                std::uint64_t count = 0;
                return ::read(fd, &count, sizeof count) > 0;
            }
            int fd;
        };
        return {.list = [this] { return present; },
                .watch = [this] { return std::make_unique<Watcher>(events_); }};
    }
    void change(std::vector<PortInfo> now) {
        present = std::move(now);
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(events_, &one, sizeof one);
    }
    std::vector<PortInfo> present;

  private:
    int events_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
};

QStringList items(const QComboBox* combo) {
    QStringList out;
    for (int i = 0; i < combo->count(); ++i) {
        out << combo->itemText(i);
    }
    return out;
}

QStringList labels(const std::vector<PortInfo>& present) {
    QStringList out;
    for (const zq::PortEntry& entry : zq::portEntries(present)) {
        out << QString::fromStdString(entry.label);
    }
    return out;
}

QString text(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<int>(s.size()));
}

class WindowPortsTest : public QObject {
    Q_OBJECT

  private slots:
    // The whole name reaches the job; a plug event lists the ports again at once while the
    // window is idle, and only once it has ended while an operation waits (listing them all
    // inside the wait would stretch it). The choice stays on its port.
    void extraPortsFollowTheFourAndFollowPlugEvents() {
        const std::vector<PortInfo> first = {ttyPort("ttyS4", "16550A"), usbAdapter(),
                                             ttyPort("ttyACM0")};
        FakePorts ports(first);
        SimulatedLine line({.mode = zq::sim::BoardMode::Update});
        line.deviceName = "/dev/ttyUSB0";
        UpdaterDialog dialog(line, ports.source());
        dialog.show();
        QCOMPARE(items(dialog.portCombo), labels(first));
        QCOMPARE(dialog.portCombo->currentIndex(), 0);
        // The closed box keeps its width; the open list shows whole lines.
        QVERIFY(dialog.portCombo->view()->minimumWidth() >
                dialog.portCombo->fontMetrics().horizontalAdvance(dialog.portCombo->itemText(5)));

        dialog.portCombo->setCurrentIndex(5);
        const QString adapter = dialog.portCombo->currentText();
        // Closed, the box shows what tells the port apart; the whole line is its tool tip.
        QCOMPARE(dialog.portCombo->shownText(), QStringLiteral("USB0"));
        QCOMPARE(dialog.portCombo->toolTip(), adapter);
        int listedDuringWait = -1;
        line.faults.onSleep = [&](std::chrono::milliseconds duration) {
            if (duration < std::chrono::milliseconds(50)) {
                return;
            }
            if (listedDuringWait < 0) {
                ports.change({ttyPort("ttyS4"), usbAdapter(), ttyPort("ttyACM0"), ttyPort("x")});
            }
            listedDuringWait = dialog.portCombo->count();
        };
        BoxAnswerer answerer;
        QTest::mouseClick(dialog.updateButton, Qt::LeftButton);
        // Only /dev/ttyUSB0 exists on this line: the success says the whole name was opened.
        QCOMPARE(answerer.texts(), QStringList({text(zq::messages::Success.update)}));
        QCOMPARE(listedDuringWait, 7);
        QCOMPARE(dialog.portCombo->count(), 8);
        QCOMPARE(dialog.portCombo->currentText(), adapter);
        dialog.close();
    }

    // A chosen port that goes stays chosen, shown as gone, and is never opened: its device name
    // may belong to another adapter by then, and COM1 may be a console. A port still held is
    // handed back. It is usable again once it is back.
    void aChosenPortThatGoesStaysChosenAndIsNeverOpened() {
        FakePorts ports({usbAdapter()});
        SimulatedLine line({.mode = zq::sim::BoardMode::Download});
        line.deviceName = "/dev/ttyUSB0";
        UpdaterDialog dialog(line, ports.source());
        dialog.show();
        dialog.portCombo->setCurrentIndex(4);
        const QString adapter = dialog.portCombo->currentText();
        zq::test::refuseWakeBytes(line);
        BoxAnswerer answerer(&dialog);
        QTest::mouseClick(dialog.downloadButton, Qt::LeftButton);
        QVERIFY(line.isOpen());
        line.faults.writeFault = nullptr;

        const QString gone = QStringLiteral(
            "/dev/ttyUSB0: the port has gone (unplugged, switched off, or its virtual board "
            "stopped), so nothing was opened; it stays chosen and can be used again once it is "
            "back.");
        const auto opens = [&] { return line.eventsOf(zq::sim::PortEvent::Kind::Open).size(); };
        const std::size_t opened = opens();
        // The same device name on another adapter is not the chosen port either.
        const QList<std::vector<PortInfo>> away = {{}, {usbAdapter(0, 0x0403, 0x6001, "OTHER")}};
        for (const std::vector<PortInfo>& present : away) {
            ports.change(present);
            QTRY_COMPARE(dialog.portCombo->currentText(), adapter + QStringLiteral("  (gone)"));
            QCOMPARE(dialog.portCombo->currentIndex(), dialog.portCombo->count() - 1);
            QVERIFY(dialog.portCombo->shownGone());
            answerer.boxes.clear();
            QTest::mouseClick(dialog.downloadButton, Qt::LeftButton);
            QTest::mouseClick(dialog.updateButton, Qt::LeftButton);
            QCOMPARE(answerer.texts(), QStringList(2, text(zq::messages::CannotOpenPort)));
            QCOMPARE(answerer.boxes[0].detail, gone);
            QVERIFY(zq::test::handedBack(line));
            QCOMPARE(opens(), opened);
        }

        ports.change({usbAdapter()});
        QTRY_COMPARE(dialog.portCombo->currentText(), adapter);
        QVERIFY(!dialog.portCombo->shownGone());
        answerer.boxes.clear();
        QTest::mouseClick(dialog.downloadButton, Qt::LeftButton);
        QCOMPARE(answerer.texts(), QStringList(text(zq::messages::Success.download)));
        dialog.close();
    }

    void theLastPortThatWorkedIsChosenAtTheNextStart() {
        QTemporaryDir dir;
        QSettings settings(dir.filePath(QStringLiteral("firmware-updater.conf")),
                           QSettings::IniFormat);
        FakePorts ports({usbAdapter(), ttyPort("ttyACM0")});
        {
            SimulatedLine line({.mode = zq::sim::BoardMode::Update});
            line.deviceName = "/dev/ttyUSB0";
            UpdaterDialog dialog(line, ports.source(), &settings);
            dialog.show();
            dialog.portCombo->setCurrentIndex(4);
            BoxAnswerer answerer;
            QTest::mouseClick(dialog.updateButton, Qt::LeftButton);
            // An operation that fails remembers nothing.
            dialog.portCombo->setCurrentIndex(5);
            QTest::mouseClick(dialog.updateButton, Qt::LeftButton);
            QCOMPARE(answerer.texts(), QStringList({text(zq::messages::Success.update),
                                                    text(zq::messages::CannotOpenPort)}));
            dialog.close();
        }
        // Kept by the adapter's stable name, so a replug under another number still finds it.
        ports.present = {ttyPort("ttyACM0"), usbAdapter(3)};
        SimulatedLine line;
        UpdaterDialog dialog(line, ports.source(), &settings);
        QCOMPARE(dialog.portCombo->currentText(), labels(ports.present)[5]);
    }
};

}  // namespace

QTEST_MAIN(WindowPortsTest)
#include "window_ports_test.moc"
