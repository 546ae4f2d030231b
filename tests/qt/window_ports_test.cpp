// The window's port list with ports beyond COM1 to COM4: a discovery source of the test's own
// (never the host's devices), plug events through a pipe, the remembered port in a settings file
// of its own. Offscreen, simulated line.
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest/QtTest>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <vector>

#include "app/qt/updater_dialog.h"
#include "box_answerer.h"
#include "sim/simulated_line.h"
#include "text/messages.h"

namespace {

using zq::PortInfo;
using zq::qt::UpdaterDialog;
using zq::sim::SimulatedLine;

PortInfo tty(const char* name, const char* description = "") {
    PortInfo port;
    port.systemName = name;
    port.devicePath = std::string("/dev/") + name;
    port.description = description;
    return port;
}

PortInfo ftdi() {
    PortInfo port = tty("ttyUSB0", "FT232R USB UART");
    port.stableName = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A6008isP-if00-port0";
    port.vendorId = 0x0403;
    port.productId = 0x6001;
    port.serialNumber = "A6008isP";
    port.bus = PortInfo::Bus::Usb;
    return port;
}

class PipeWatcher final : public zq::PortWatcher {
  public:
    explicit PipeWatcher(int fd) : fd_(fd) {}
    int eventDescriptor() const override { return fd_; }
    bool takeEvents() override {
        char bytes[16];
        bool any = false;
        while (::read(fd_, bytes, sizeof bytes) > 0) {
            any = true;
        }
        return any;
    }

  private:
    int fd_;
};

// The ports "present", and a plug event each time the test changes them.
class FakePorts {
  public:
    explicit FakePorts(std::vector<PortInfo> present) : present(std::move(present)) {
        if (::pipe2(fds_, O_NONBLOCK | O_CLOEXEC) != 0) {
            fds_[0] = fds_[1] = -1;
        }
    }
    ~FakePorts() {
        for (int fd : fds_) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }
    zq::PortSource source() {
        return {.list = [this] { return present; },
                .watch = [this] { return std::make_unique<PipeWatcher>(fds_[0]); }};
    }
    void change(std::vector<PortInfo> now) {
        present = std::move(now);
        [[maybe_unused]] const ssize_t written = ::write(fds_[1], "+", 1);
    }
    std::vector<PortInfo> present;

  private:
    int fds_[2];
};

QStringList items(const QComboBox* combo) {
    QStringList out;
    for (int i = 0; i < combo->count(); ++i) {
        out << combo->itemText(i);
    }
    return out;
}

using zq::test::BoxAnswerer;

QString text(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<int>(s.size()));
}

class WindowPortsTest : public QObject {
    Q_OBJECT

  private slots:
    void extraPortsFollowTheFourAndTheWholeNameReachesTheJob() {
        FakePorts ports({tty("ttyS0", "16550A"), ftdi(), tty("ttyACM0")});
        SimulatedLine line({.mode = zq::sim::BoardMode::Update});
        line.deviceName = "/dev/ttyUSB0";
        UpdaterDialog dialog(line, ports.source());
        dialog.show();
        // /dev/ttyS0 is COM1 already.
        QCOMPARE(
            items(dialog.portCombo),
            QStringList({"COM1", "COM2", "COM3", "COM4",
                         "/dev/ttyUSB0  FT232R USB UART  0403:6001  A6008isP", "/dev/ttyACM0"}));
        QCOMPARE(dialog.portCombo->currentIndex(), 0);
        // The closed box keeps its width; the open list shows whole lines.
        QVERIFY(dialog.portCombo->view()->minimumWidth() >
                dialog.portCombo->fontMetrics().horizontalAdvance(dialog.portCombo->itemText(4)));

        dialog.portCombo->setCurrentIndex(4);
        // A port plugged in during the operation's 5 s wait is listed once it has ended: listing
        // them all inside the wait would stretch it.
        int listedDuringWait = -1;
        line.faults.onSleep = [&](std::chrono::milliseconds duration) {
            if (duration < std::chrono::milliseconds(50)) {
                return;
            }
            if (listedDuringWait < 0) {
                ports.change({tty("ttyS0", "16550A"), ftdi(), tty("ttyACM0"), tty("ttyACM1")});
            }
            listedDuringWait = dialog.portCombo->count();
        };
        BoxAnswerer answerer;
        QTest::mouseClick(dialog.updateButton, Qt::LeftButton);
        // Only /dev/ttyUSB0 exists on this line: the success says the whole name was opened.
        QCOMPARE(answerer.texts(), QStringList({text(zq::messages::Success.update)}));
        QVERIFY(!line.eventsOf(zq::sim::PortEvent::Kind::Open).empty());
        QCOMPARE(listedDuringWait, 6);
        QCOMPARE(dialog.portCombo->count(), 7);
        QCOMPARE(dialog.portCombo->currentIndex(), 4);
        dialog.close();
    }

    void plugAndUnplugWhileOpenKeepTheChoiceThatIsStillThere() {
        FakePorts ports({tty("ttyUSB3")});
        SimulatedLine line;
        UpdaterDialog dialog(line, ports.source());
        dialog.show();
        dialog.portCombo->setCurrentIndex(4);
        QCOMPARE(dialog.portCombo->currentText(), QStringLiteral("/dev/ttyUSB3"));

        // Plugged in before it in the list: the choice moves with its port.
        ports.change({tty("ttyACM0"), tty("ttyUSB3")});
        QTRY_COMPARE(dialog.portCombo->count(), 6);
        QCOMPARE(dialog.portCombo->itemText(4), QStringLiteral("/dev/ttyACM0"));
        QCOMPARE(dialog.portCombo->currentText(), QStringLiteral("/dev/ttyUSB3"));

        ports.change({tty("ttyUSB3")});
        QTRY_COMPARE(dialog.portCombo->count(), 5);
        QCOMPARE(dialog.portCombo->currentText(), QStringLiteral("/dev/ttyUSB3"));

        // The chosen port itself goes: COM1 stands in, and nothing is opened that is not there.
        ports.change({});
        QTRY_COMPARE(dialog.portCombo->count(), 4);
        QCOMPARE(dialog.portCombo->currentText(), QStringLiteral("COM1"));
        QVERIFY(line.events.empty());
        dialog.close();
    }

    void theLastPortThatWorkedIsChosenAtTheNextStart() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QSettings settings(dir.filePath(QStringLiteral("firmware-updater.conf")),
                           QSettings::IniFormat);
        FakePorts ports({ftdi(), tty("ttyACM0")});
        {
            SimulatedLine line({.mode = zq::sim::BoardMode::Update});
            line.deviceName = "/dev/ttyUSB0";
            UpdaterDialog dialog(line, ports.source(), &settings);
            QCOMPARE(dialog.portCombo->currentIndex(), 0);  // first start
            dialog.show();
            dialog.portCombo->setCurrentIndex(4);
            BoxAnswerer answerer;
            QTest::mouseClick(dialog.updateButton, Qt::LeftButton);
            QCOMPARE(answerer.texts(), QStringList({text(zq::messages::Success.update)}));
            // An operation that fails remembers nothing.
            dialog.portCombo->setCurrentIndex(5);
            QTest::mouseClick(dialog.updateButton, Qt::LeftButton);
            QCOMPARE(answerer.texts().size(), 2);
            QCOMPARE(answerer.texts()[1], text(zq::messages::CannotOpenPort));
            dialog.close();
        }
        // Kept by the adapter's stable name, so a replug under another number still finds it.
        QCOMPARE(settings.value(QLatin1String(UpdaterDialog::LastPortKey)).toString(),
                 QString::fromStdString(ftdi().stableName));
        ports.present = {tty("ttyACM0"), ftdi()};
        {
            SimulatedLine line;
            UpdaterDialog dialog(line, ports.source(), &settings);
            QCOMPARE(dialog.portCombo->currentText(),
                     QStringLiteral("/dev/ttyUSB0  FT232R USB UART  0403:6001  A6008isP"));
        }
        // Not plugged in at start: COM1, as at a first start.
        ports.present = {tty("ttyACM0")};
        {
            SimulatedLine line;
            UpdaterDialog dialog(line, ports.source(), &settings);
            QCOMPARE(dialog.portCombo->currentText(), QStringLiteral("COM1"));
        }
    }
};

}  // namespace

QTEST_MAIN(WindowPortsTest)
#include "window_ports_test.moc"
