#include <cstdlib>
#include <iostream>
#include <memory>

#include "app/cli/command_line.h"
#include "app/cli/system_support.h"
#include "image/startup_directory.h"

int main(int argc, char** argv) {
    // First of all, as the window does: the directory must be the one the user started us in.
    const zq::StartupDirectory startup = zq::recordStartupDirectory();
    const std::unique_ptr<zq::Platform> platform = zq::cli::makeSystemPlatform();
    zq::cli::CliContext context{
        .out = std::cout,
        .err = std::cerr,
        .errIsTerminal = zq::cli::standardErrorIsTerminal(),
        .platform = *platform,
        .startup = startup,
        .platformFor = [](const std::string&) { return zq::cli::makeSystemPlatform(); },
        .catchInterrupts = true,
    };
    if (const char* port = std::getenv("ZQ417_PORT")) {
        context.environmentPort = port;
    }
    return zq::cli::runCli(argc, argv, context);
}
