#include <cstdlib>
#include <memory>

#include "app/cli/command_line.h"
#include "app/cli/system_support.h"

int main(int argc, char** argv) {
    const std::unique_ptr<zq::cli::ProgramOutput> output = zq::cli::makeProgramOutput();
    const std::unique_ptr<zq::Platform> platform = zq::cli::makeSystemPlatform();
    zq::cli::CliContext context{
        .out = output->out(),
        .err = output->err(),
        .errIsTerminal = zq::cli::standardErrorIsTerminal(),
        .platform = *platform,
        .platformFor = [](const std::string&) { return zq::cli::makeSystemPlatform(); },
        .catchInterrupts = true,
    };
    if (const char* port = std::getenv("ZQ417_PORT")) {
        context.environmentPort = port;
    }
    return output->finish(zq::cli::runCli(argc, argv, context));
}
