#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "image/startup_directory.h"
#include "serial/platform.h"
#include "serial/port_discovery.h"

namespace zq::cli {

enum ExitStatus : int {
    ExitSuccess = 0,
    ExitFailed = 1,  // the operation ran and did not succeed
    ExitUsage = 2,   // the command line was wrong; nothing was sent
    ExitNoPort = 3,  // there is no port to open (`--port auto` found no adapter)
};

// What the command line runs against: the real system in main, a simulated one in tests.
struct CliContext {
    std::ostream& out;
    std::ostream& err;
    bool errIsTerminal = false;
    Platform& platform;
    std::filesystem::path devRoot = "/dev";
    std::filesystem::path sysRoot = "/sys";
    StartupDirectory startup{};  // where the program was started
    std::function<std::vector<PortInfo>()> listPorts = discoverPorts;
    std::optional<std::string> environmentPort{};  // ZQ417_PORT, when set
    std::filesystem::path procRoot = "/proc";      // where `ports` looks for the programs using one
    // The real program: a signal interrupts a transfer, which hands the port back and exits
    // with 128 + the signal's number. Tests run in-process leave the signals alone.
    bool catchInterrupts = false;
};

int runCli(int argc, const char* const* argv, CliContext& context);

}  // namespace zq::cli
