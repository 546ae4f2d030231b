#include "app/qt/station/station_main.h"

#include <QApplication>
#include <QSettings>

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "app/qt/station/qt_text.h"
#include "app/qt/station/station_options.h"
#include "app/qt/station/station_window.h"
#include "app/qt/termination_signals.h"
#include "app/version.h"
#include "serial/posix/posix_platform.h"

namespace zq::qt {

namespace {

StationWindow* liveStation = nullptr;

// Qt's X11 connection ends the process with exit(1) when the display goes away; every board
// hands its port back on the way out.
void handBackAtExit() {
    if (liveStation != nullptr) {
        liveStation->abandon();
    }
}

}  // namespace

bool asksForStation(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--station") {
            return true;
        }
    }
    return false;
}

int stationMain(int argc, char** argv) {
    const StationRequest request = readStationRequest(argc, argv);
    if (!request.error.empty()) {
        std::fprintf(stderr,
                     "firmware-updater: %s\nRun with --station --help for more information.\n",
                     request.error.c_str());
        return 2;
    }
    if (request.help) {
        std::fputs(stationHelp().c_str(), stdout);
        return std::fflush(stdout) == 0 && std::ferror(stdout) == 0 ? 0 : 1;
    }
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QApplication app(qtArgc, qtArgv);
    QApplication::setApplicationName(qtText(version::ProductName));
    QApplication::setApplicationVersion(qtText(version::Number));
    QApplication::setQuitOnLastWindowClosed(false);
    PosixPlatform platform;
    station::StationSeam seam{.platform = platform};
    // The same file as the other window's: ~/.config/firmware-updater/firmware-updater.conf.
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope,
                       QStringLiteral("firmware-updater"), QStringLiteral("firmware-updater"));
    StationWindow window(seam, &settings, request.choices);
    const TerminationSignals termination([&window] { window.endFromSystem(); });
    liveStation = &window;
    std::atexit(handBackAtExit);
    // Closed once no board is mid-way (see closeEvent); a signal ends the loop with 128 + n.
    window.onClosed = [] { QCoreApplication::exit(0); };
    window.show();
    if (request.start) {
        window.start();
    }
    const int status = QApplication::exec();
    liveStation = nullptr;
    return status;
}

}  // namespace zq::qt
