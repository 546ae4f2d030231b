// The "Firmware Updater" window. The command line is read only for --help and --version, which
// answer without opening the window (or needing a display), and --latency MS.
#include <QApplication>
#include <QSettings>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/ports/port_source.h"
#include "app/qt/station/station_main.h"
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

// What the command line asks of the window.
struct WindowRequest {
    bool help = false;
    bool version = false;
    std::chrono::milliseconds latency{0};
    std::string error;  // a usage error, said before anything opens
};

// The longest --latency the command line takes too.
constexpr unsigned long MaxLatencyMs = 10000;

bool readLatency(std::string_view value, WindowRequest& request) {
    unsigned long ms = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), ms);
    if (value.empty() || error != std::errc() || end != value.data() + value.size() ||
        ms > MaxLatencyMs) {
        request.error = "--latency takes a whole number of milliseconds from 0 to " +
                        std::to_string(MaxLatencyMs) + ", not '" + std::string(value) + "'";
        return false;
    }
    request.latency = std::chrono::milliseconds(ms);
    return true;
}

// --help, --version and --latency MS anywhere on the command line; every other word is left
// alone, as the desktop may start the window with words of its own.
WindowRequest readCommandLine(int argc, char** argv) {
    WindowRequest request;
    for (int i = 1; i < argc; ++i) {
        const std::string_view word = argv[i];
        request.help = request.help || word == "--help" || word == "-h";
        request.version = request.version || word == "--version";
        if (word == "--latency") {
            if (i + 1 == argc) {
                request.error = "--latency needs a value: the milliseconds to wait longer";
                return request;
            }
            if (!readLatency(argv[++i], request)) {
                return request;
            }
        } else if (word.starts_with("--latency=")) {
            if (!readLatency(word.substr(10), request)) {
                return request;
            }
        }
    }
    return request;
}

void printHelp() {
    std::printf(
        "Usage: firmware-updater [--latency MS] [--help | --version]\n"
        "       firmware-updater --station [OPTIONS]  (the Firmware Station window: "
        "firmware-updater --station --help)\n"
        "Opens the %.*s window: choose the serial port, then press Download for a board set "
        "to download mode or Update for a board set to update mode. The outcome comes in a "
        "message box; an error box says why under Show Details.\n"
        "zq417-flash does the same from the command line, for scripts (zq417-flash --help).\n"
        "  --latency MS  Wait MS longer for every reply, for USB serial adapters that hold small "
        "replies back and cannot be tuned (0 to %lu; default 0: the exact timeouts)\n"
        "  -h, --help    Print this help and exit\n"
        "  --version     Print the version and exit\n",
        static_cast<int>(zq::version::ProductName.size()), zq::version::ProductName.data(),
        MaxLatencyMs);
}

}  // namespace

int main(int argc, char** argv) {
    if (zq::qt::asksForStation(argc, argv)) {
        return zq::qt::stationMain(argc, argv);
    }
    const WindowRequest request = readCommandLine(argc, argv);
    if (!request.error.empty()) {
        std::fprintf(stderr, "firmware-updater: %s\nRun with --help for more information.\n",
                     request.error.c_str());
        return 2;
    }
    if (request.help || request.version) {
        if (request.help) {
            printHelp();
        } else {
            std::printf("firmware-updater (%.*s) %.*s\n",
                        static_cast<int>(zq::version::ProductName.size()),
                        zq::version::ProductName.data(),
                        static_cast<int>(zq::version::Number.size()), zq::version::Number.data());
        }
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
    zq::qt::UpdaterDialog dialog(platform, zq::systemPortSource(), &settings, request.latency);
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
