// Renders the window and one of its message boxes to PNG files for the documentation, from the
// real widgets on the offscreen platform.
#include <QApplication>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QTimer>
#include <cstdio>

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

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s WINDOW.png MESSAGEBOX.png\n", argv[0]);
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
    return ok ? 0 : 1;
}
