#include "station/fixture.h"

#include "serial/port_names.h"

namespace zq::station {

std::string Fixture::name() const {
    if (port.isVirtual() && port.simulatorPid != 0) {
        return "zq417-sim " + std::to_string(port.simulatorPid) + " board " +
               (port.boardIndex ? std::to_string(*port.boardIndex) : std::string("?"));
    }
    if (!port.byPath.empty()) {
        return port.byPath;
    }
    return port.devicePath.empty() ? openName : port.devicePath;
}

Fixture fixtureNamed(const std::string& openName, std::string note) {
    Fixture fixture;
    fixture.openName = openName;
    fixture.port.devicePath = devicePath(openName);
    fixture.note = std::move(note);
    return fixture;
}

}  // namespace zq::station
