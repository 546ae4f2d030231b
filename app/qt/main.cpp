// The "Firmware Updater" window. The command line is not read.
#include <QApplication>

#include "app/qt/updater_dialog.h"
#include "image/startup_directory.h"
#include "serial/posix/posix_platform.h"

int main(int, char** argv) {
    // Only the program's name reaches Qt, so no option can change the window.
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QApplication app(qtArgc, qtArgv);
    const zq::StartupDirectory startup = zq::recordStartupDirectory();
    (void)startup;  // read only by the image file operations
    zq::PosixPlatform platform;
    zq::qt::UpdaterDialog dialog(platform);
    dialog.exec();
    return 0;
}
