// firmware-updater as it starts on a machine with many ports: the system's own ports and plug
// events, plus COUNT made-up USB adapters (16 unless given), for bench/window_startup.sh. No
// settings are read or kept, so the user's remembered port stays as it is.
#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/ports/port_source.h"
#include "app/qt/updater_dialog.h"
#include "serial/posix/posix_platform.h"

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 16;
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QApplication app(qtArgc, qtArgv);
    zq::PortSource ports = zq::systemPortSource();
    ports.list = [count] {
        std::vector<zq::PortInfo> present = zq::discoverPorts();
        for (int i = 0; i < count; ++i) {
            zq::PortInfo port;
            port.systemName = "ttyUSB" + std::to_string(100 + i);
            port.devicePath = "/dev/" + port.systemName;
            port.description = "FT232R USB UART";
            port.vendorId = 0x0403;
            port.productId = 0x6001;
            char serial[16];
            std::snprintf(serial, sizeof serial, "A60%05d", i);
            port.serialNumber = serial;
            port.bus = zq::PortInfo::Bus::Usb;
            present.push_back(port);
        }
        return present;
    };
    zq::PosixPlatform platform;
    zq::qt::UpdaterDialog dialog(platform, ports);
    dialog.exec();
    return 0;
}
