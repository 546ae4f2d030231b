// Renders the window and one of its message boxes to PNG files for the documentation, from the
// real widgets on the offscreen platform.
#include <QApplication>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

#include "app/qt/station/station_feed.h"
#include "app/qt/station/station_window.h"
#include "app/qt/updater_dialog.h"
#include "sim/simulated_line.h"
#include "text/messages.h"

namespace {

// The offscreen platform draws no window frame, so a plain title bar is painted around the
// widget's own pixels to show it as a window.
QPixmap framed(QWidget& widget) {
    const QPixmap client = widget.grab();
    const int titleHeight = 22;
    const int border = 1;
    QPixmap out(client.width() + 2 * border, client.height() + titleHeight + border);
    out.fill(QColor(0x55, 0x5a, 0x64));
    QPainter painter(&out);
    painter.fillRect(border, border, client.width(), titleHeight - border,
                     QColor(0x2f, 0x4f, 0x8f));
    QFont title = widget.font();
    title.setBold(true);
    painter.setFont(title);
    painter.setPen(Qt::white);
    painter.drawText(QRect(border + 8, border, client.width() - 16, titleHeight - border),
                     Qt::AlignVCenter | Qt::AlignLeft, widget.windowTitle());
    painter.drawPixmap(border, titleHeight, client);
    return out;
}

// The station window in the middle of a run: six virtual boards, each somewhere else, as their
// reports leave them.
bool stationShot(const char* file) {
    using zq::OperationStage;
    using zq::station::BoardEnd;
    QTemporaryDir dir;
    QSettings labels(dir.filePath(QStringLiteral("labels.conf")), QSettings::IniFormat);
    zq::sim::SimulatedLine line;
    zq::station::StationSeam seam{.platform = line,
                                  .listPorts = [] { return std::vector<zq::PortInfo>{}; },
                                  .watchPorts = nullptr};
    zq::qt::StationChoices choices;
    choices.logFile = dir.filePath(QStringLiteral("station.jsonl")).toStdString();
    zq::qt::StationWindow window(seam, &labels, choices);
    window.setLabel("/dev/pts/3", QStringLiteral("Jig 1"));
    window.start();
    zq::qt::StationFeed feed({.reasonOf = [](const zq::station::BoardRecord&) {
        return std::string("no answer to the handshake: is the board powered?");
    }});
    std::vector<std::unique_ptr<zq::station::BoardRecord>> boards;
    const auto plug = [&](int pts) -> zq::station::BoardView {
        auto record = std::make_unique<zq::station::BoardRecord>();
        record->number = boards.size() + 12;
        record->fixture = zq::station::fixtureNamed("/dev/pts/" + std::to_string(pts));
        boards.push_back(std::move(record));
        const zq::station::BoardView view{boards.back()->number, boards.back()->fixture,
                                          *boards.back(), line};
        feed.boardStarted(view);
        feed.tryStarting(view, 1, 0);
        return view;
    };
    const auto end = [&](const zq::station::BoardView& view, BoardEnd how) {
        auto& record = const_cast<zq::station::BoardRecord&>(view.record);
        record.end = how;
        record.pulledDuring = OperationStage::Firmware;
        feed.boardEnded(record);
    };
    end(plug(3), BoardEnd::Succeeded);
    const auto sending = plug(4);
    feed.stage(sending, OperationStage::Firmware);
    feed.range(sending, 5728);
    feed.position(sending, 3584);
    const auto programming = plug(5);
    feed.stage(programming, OperationStage::Programming);
    feed.programming(programming, std::chrono::milliseconds(3200));
    end(plug(6), BoardEnd::Failed);
    end(plug(7), BoardEnd::Pulled);
    feed.stage(plug(8), OperationStage::Probing);
    zq::qt::StationFeed::Changes changes = feed.take();
    window.resize(960, 560);
    window.show();
    window.present(changes);
    QApplication::processEvents();
    const bool ok = framed(window).save(QString::fromLocal8Bit(file));
    window.stop();
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s WINDOW.png MESSAGEBOX.png STATION.png\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QApplication app(qtArgc, argv);

    zq::sim::SimulatedLine line({.mode = zq::sim::BoardMode::Download});
    zq::qt::UpdaterDialog dialog(line);
    dialog.show();
    // Show the bar part of the way through a transfer.
    dialog.progressBar->setRange(0, 5728);
    dialog.progressBar->setValue(3700);
    bool ok = framed(dialog).save(QString::fromLocal8Bit(argv[1]));

    const std::string_view text = zq::messages::Success.download;
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("OK"),
                    QString::fromUtf8(text.data(), static_cast<int>(text.size())), QMessageBox::Ok,
                    &dialog);
    box.setFont(dialog.font());
    box.show();
    box.adjustSize();
    ok = framed(box).save(QString::fromLocal8Bit(argv[2])) && ok;
    box.close();
    ok = stationShot(argv[3]) && ok;
    return ok ? 0 : 1;
}
