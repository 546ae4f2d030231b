#include "app/records/port_choice.h"

#include "app/records/safe_text.h"

#include <filesystem>
#include <system_error>

namespace zq {

namespace {

std::string adviceFor(std::string_view name, PortNaming naming) {
    if (naming == PortNaming::Windows) {
        return "not a port name; use COMn, a device name such as \\\\.\\COM10, or auto";
    }
    if (name.starts_with("tty")) {
        return "not a port name; did you mean /dev/" + printableName(name) + "?";
    }
    return "not a port name; use COM1..COM4, a device path such as /dev/ttyUSB0, a "
           "/dev/serial/by-id name, or auto";
}

std::string listing(const std::vector<PortInfo>& ports) {
    std::string text;
    for (const PortInfo& port : ports) {
        text += "\n" + describePortLine(port);
    }
    return text;
}

PortChoice automatic(const NamedPort& named) {
    PortChoice choice;
    if (named.candidates.empty()) {
        choice.outcome = PortChoice::Outcome::NoAdapter;
        choice.message = "no USB serial adapter is present";
        choice.message += named.present.empty()
                              ? "; no serial port was found at all"
                              : "; the serial ports here:" + listing(named.present);
        return choice;
    }
    if (!named.found) {
        choice.outcome = PortChoice::Outcome::SeveralAdapters;
        choice.message =
            std::to_string(named.candidates.size()) +
            (named.candidates.front().isVirtual() ? " virtual boards" : " USB serial adapters") +
            " are present; name one with --port:" + listing(named.candidates);
        return choice;
    }
    choice.outcome = PortChoice::Outcome::Chosen;
    choice.port = named.port;
    choice.note = "auto is" + describePortLine(*named.found).substr(1);
    return choice;
}

}  // namespace

std::string describePortLine(const PortInfo& port) {
    std::string line = "  " + printableName(shownName(port));
    const auto add = [&](const std::string& part) {
        if (!part.empty()) {
            line += "  " + printableName(part);
        }
    };
    add(port.description);
    add(port.manufacturer == port.description ? std::string() : port.manufacturer);
    add(vidPidText(port));
    add(port.serialNumber.empty() ? std::string() : "serial " + port.serialNumber);
    return line;
}

PortChoice resolvePort(std::string_view given, PortNaming naming, const PortLister& listPorts) {
    const NamedPort named = readPortName(given, naming, listPorts);
    PortChoice choice;
    switch (named.form) {
        case NamedPort::Form::Auto:
            return automatic(named);
        case NamedPort::Form::ComOutOfRange:
            choice.message = "only " + comName(1) + " to " + comName(FixedComPorts) +
                             " exist here (" + devicePath(comName(1), naming) + " to " +
                             devicePath(comName(FixedComPorts), naming) +
                             "); name any other port by its device path, its /dev/serial/by-id "
                             "name, or auto";
            return choice;
        case NamedPort::Form::ById:
            choice.note = printableName(given) + " is " + printableName(named.found->devicePath);
            [[fallthrough]];
        case NamedPort::Form::Com:
        case NamedPort::Form::Device:
            choice.outcome = PortChoice::Outcome::Chosen;
            choice.port = named.port;
            return choice;
        case NamedPort::Form::Unknown:
            break;
    }
    choice.message = adviceFor(given, naming);
    return choice;
}

std::vector<station::Fixture> fixturesOf(const std::vector<std::string>& openNames,
                                         const std::vector<std::string>& notes,
                                         const PortLister& listPorts) {
    const std::vector<PortInfo> listed = listPorts ? listPorts() : std::vector<PortInfo>{};
    const auto real = [](const std::string& path) {
        std::error_code failed;
        const std::filesystem::path found = std::filesystem::weakly_canonical(path, failed);
        return failed ? path : found.string();
    };
    std::vector<station::Fixture> fixtures;
    for (std::size_t i = 0; i < openNames.size(); ++i) {
        station::Fixture fixture =
            station::fixtureNamed(openNames[i], i < notes.size() ? notes[i] : std::string());
        const std::string device = real(fixture.port.devicePath);
        for (const PortInfo& port : listed) {
            if (!port.devicePath.empty() && real(port.devicePath) == device) {
                fixture.port = port;
                break;
            }
        }
        fixtures.push_back(std::move(fixture));
    }
    return fixtures;
}

std::optional<std::pair<std::size_t, std::size_t>> firstRepeated(
    const std::vector<std::string>& ports) {
    for (std::size_t j = 1; j < ports.size(); ++j) {
        for (std::size_t i = 0; i < j; ++i) {
            if (sameDevice(ports[i], ports[j])) {
                return std::pair{i, j};
            }
        }
    }
    return std::nullopt;
}

}  // namespace zq
