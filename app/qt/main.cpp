// The "Firmware Updater" window. The command line is not read.
#include <QApplication>
#include <QSettings>

#include <cstdlib>

#include "app/ports/port_source.h"
#include "app/qt/termination_signals.h"
#include "app/qt/updater_dialog.h"
#include "app/version.h"
#include "image/startup_directory.h"
#include "serial/posix/posix_platform.h"

namespace {

zq::qt::UpdaterDialog* liveWindow = nullptr;

// Qt's X11 connection ends the process with exit(1) when the display goes away, from inside
// whatever loop or wait the window is in; the port is handed back on the way out.
void handBackAtExit() {
    if (liveWindow != nullptr) {
        liveWindow->abandon();
    }
}

}  // namespace

int main(int, char** argv) {
    // Only the program's name reaches Qt, so no option can change the window.
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QApplication app(qtArgc, qtArgv);
    QApplication::setApplicationName(QString::fromUtf8(
        zq::version::ProductName.data(), static_cast<int>(zq::version::ProductName.size())));
    QApplication::setApplicationVersion(QString::fromUtf8(
        zq::version::Number.data(), static_cast<int>(zq::version::Number.size())));
    // The window says when the program ends: a signal ends it with its own status.
    QApplication::setQuitOnLastWindowClosed(false);
    const zq::StartupDirectory startup = zq::recordStartupDirectory();
    (void)startup;  // read only by the image file operations
    zq::PosixPlatform platform;
    // ~/.config/firmware-updater/firmware-updater.conf: the port that last worked.
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope,
                       QStringLiteral("firmware-updater"), QStringLiteral("firmware-updater"));
    zq::qt::UpdaterDialog dialog(platform, zq::systemPortSource(), &settings);
    const zq::qt::TerminationSignals termination([&dialog] { dialog.endFromSystem(); });
    liveWindow = &dialog;
    std::atexit(handBackAtExit);
    QObject::connect(&dialog, &QDialog::finished, &app, [] { QCoreApplication::exit(0); });
    dialog.show();
    // Through the application's loop, so that its clean-up at the end (aboutToQuit) runs.
    const int status = QApplication::exec();
    liveWindow = nullptr;
    return status;
}
