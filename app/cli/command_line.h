#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/cli/exit_status.h"
#include "serial/platform.h"
#include "serial/port_discovery.h"

namespace zq::cli {

// What the command line runs against: the real system in main, a simulated one in tests.
struct CliContext {
    std::ostream& out;
    std::ostream& err;
    bool errIsTerminal = false;
    Platform& platform;
    std::filesystem::path devRoot = "/dev";
    std::filesystem::path sysRoot = "/sys";
    // A platform of its own for each port of a run with several; unset, all share `platform`.
    std::function<std::unique_ptr<Platform>(const std::string& port)> platformFor{};
    std::function<std::vector<PortInfo>()> listPorts = discoverPorts;
    // Plug events (and virtual boards coming and going), for `watch`; null where there are none.
    std::function<std::unique_ptr<PortWatcher>()> watchPorts = zq::watchPorts;
    std::optional<std::string> environmentPort{};  // ZQ417_PORT, when set
    std::filesystem::path procRoot = "/proc";      // where `ports` looks for the programs using one
    // The real program: a signal interrupts a transfer, which hands the port back and exits
    // with 128 + the signal's number. Tests run in-process leave the signals alone.
    bool catchInterrupts = false;
};

int runCli(int argc, const char* const* argv, CliContext& context);

}  // namespace zq::cli
