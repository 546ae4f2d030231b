#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli/command_line.h"

namespace zq::test {

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};

// What zq417-flash's main logic would run on the command line with these arguments.
struct CliSetup {
    bool terminal = false;
    std::filesystem::path devRoot = "/dev";
    std::filesystem::path sysRoot = "/sys";
    // The ports `ports` and `--port auto` see; unset: the system's own.
    std::optional<std::vector<PortInfo>> ports{};
    // ZQ417_PORT: the simulated line stands for the port a bench names there.
    std::optional<std::string> environmentPort = "COM1";
    std::filesystem::path procRoot = "/proc";
    // A platform of its own for each port of a run with several; unset: all share one.
    std::function<std::unique_ptr<Platform>(const std::string& port)> platformFor{};
};

inline CliRun runCliWith(std::vector<std::string> args, Platform& platform,
                         const CliSetup& setup = {}) {
    args.insert(args.begin(), "zq417-flash");
    std::vector<const char*> argv;
    for (const std::string& a : args) {
        argv.push_back(a.c_str());
    }
    std::ostringstream out;
    std::ostringstream err;
    cli::CliContext context{out, err, setup.terminal, platform, setup.devRoot, setup.sysRoot};
    if (setup.ports) {
        context.listPorts = [ports = *setup.ports] { return ports; };
    }
    context.environmentPort = setup.environmentPort;
    context.procRoot = setup.procRoot;
    context.platformFor = setup.platformFor;
    CliRun run;
    run.status = cli::runCli(static_cast<int>(argv.size()), argv.data(), context);
    run.out = out.str();
    run.err = err.str();
    return run;
}

}  // namespace zq::test
