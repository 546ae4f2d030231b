#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>

#include "app/cli/exit_status.h"
#include "image/startup_directory.h"
#include "serial/platform.h"

namespace zq::cli {

// What the command line runs against: the real system in main, a simulated one in tests.
struct CliContext {
    std::ostream& out;
    std::ostream& err;
    bool errIsTerminal = false;
    Platform& platform;
    std::filesystem::path devRoot = "/dev";
    std::filesystem::path sysRoot = "/sys";
    StartupDirectory startup{};  // where a HEX image is converted before it is loaded
    // A platform of its own for each port of a run with several; unset, all share `platform`.
    std::function<std::unique_ptr<Platform>(const std::string& port)> platformFor{};
};

int runCli(int argc, const char* const* argv, CliContext& context);

}  // namespace zq::cli
