// The "Firmware Updater" window. The command line is read only for --help and --version, which
// answer without opening the window (or needing a display).
#include <QApplication>
#include <QSettings>

#include <cstdio>
#include <cstdlib>
#include <string_view>

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

// --help or --version anywhere on the command line; every other word is left alone, as the
// desktop may start the window with words of its own.
bool answerCommandLine(int argc, char** argv) {
    bool help = false;
    bool version = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view word = argv[i];
        help = help || word == "--help" || word == "-h";
        version = version || word == "--version";
    }
    if (help) {
        std::printf(
            "Usage: firmware-updater [--help | --version]\n"
            "Opens the %.*s window: choose the serial port, then press Download for a board set "
            "to download mode or Update for a board set to update mode. The outcome comes in a "
            "message box.\n"
            "The window reads no other option; zq417-flash does the same from the command line, "
            "for scripts (zq417-flash --help).\n"
            "  -h, --help  Print this help and exit\n"
            "  --version   Print the version and exit\n",
            static_cast<int>(zq::version::ProductName.size()), zq::version::ProductName.data());
    } else if (version) {
        std::printf("firmware-updater (%.*s) %.*s\n",
                    static_cast<int>(zq::version::ProductName.size()),
                    zq::version::ProductName.data(), static_cast<int>(zq::version::Number.size()),
                    zq::version::Number.data());
    }
    return help || version;
}

}  // namespace

int main(int argc, char** argv) {
    if (answerCommandLine(argc, argv)) {
        return std::fflush(stdout) == 0 && std::ferror(stdout) == 0 ? 0 : 1;
    }
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
