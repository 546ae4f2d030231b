#pragma once

#include <string>

#include "serial/port_discovery.h"

namespace zq::station {

// Where a board is plugged: the port as the system lists it (its adapter's serial number, its
// USB position, or the virtual board serving it), and the name its job opens. A port given by
// name and not listed has only its names.
struct Fixture {
    PortInfo port;
    std::string openName;  // what the job opens
    std::string note{};    // for the trace: what the name given stood for ("auto" is ...)
    // How the station came to the board: a port given by name, one plugged (listed as it
    // appeared), or one given by name whose board answered the probe.
    enum class Found : std::uint8_t { Named, Plugged, AnsweredProbe };
    Found found = Found::Named;

    // The fixture's own name: its USB position where the system knows it, else its device.
    std::string name() const;
    // Two listings name the same fixture.
    bool samePlace(const Fixture& other) const { return openName == other.openName; }
};

// A fixture known only by the name the job opens.
Fixture fixtureNamed(const std::string& openName, std::string note = {});

}  // namespace zq::station
