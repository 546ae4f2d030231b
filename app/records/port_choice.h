#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "serial/port_discovery.h"
#include "serial/port_names.h"
#include "station/fixture.h"

namespace zq {

using PortLister = std::function<std::vector<PortInfo>()>;

// What a --port value comes to.
struct PortChoice {
    enum class Outcome { Chosen, Invalid, NoAdapter, SeveralAdapters };
    Outcome outcome = Outcome::Invalid;
    std::string port{};     // the name the job opens, when chosen
    std::string message{};  // otherwise: why not, with the ports present where that helps
    std::string note{};     // for the trace: what `auto` or a by-id name stood for
};

// Takes COMn ("com7" as well), a device path, a /dev/serial/by-id name with or without its
// directory, or "auto" for the one USB serial adapter present. The ports are listed only when
// the name needs them.
PortChoice resolvePort(std::string_view given, PortNaming naming, const PortLister& listPorts);

// The ports given (as resolved, with what each name given stood for), each with what the system
// lists of it (its adapter, its USB position), so that its record names its fixture too.
std::vector<station::Fixture> fixturesOf(const std::vector<std::string>& openNames,
                                         const std::vector<std::string>& notes,
                                         const PortLister& listPorts);

// The same device twice, under whatever names, would have two threads fight over one board.
// The index pair of the first such repetition, or nothing.
std::optional<std::pair<std::size_t, std::size_t>> firstRepeated(
    const std::vector<std::string>& ports);

// One line per port, for messages that list what is here: "  /dev/ttyUSB0  FT232R USB UART ...".
std::string describePortLine(const PortInfo& port);

}  // namespace zq
