#include <cstdlib>
#include <memory>

#include "app/cli/command_line.h"
#include "app/cli/system_support.h"
#include "image/startup_directory.h"

int main(int argc, char** argv) {
    // First of all, as the window does: the directory must be the one the user started us in.
    const zq::StartupDirectory startup = zq::recordStartupDirectory();
    const std::unique_ptr<zq::cli::ProgramOutput> output = zq::cli::makeProgramOutput();
    const std::unique_ptr<zq::Platform> platform = zq::cli::makeSystemPlatform();
    zq::cli::CliContext context{
        .out = output->out(),
        .err = output->err(),
        .errIsTerminal = zq::cli::standardErrorIsTerminal(),
        .platform = *platform,
        .startup = startup,
        .platformFor = [](const std::string&) { return zq::cli::makeSystemPlatform(); },
        .catchInterrupts = true,
    };
    if (const char* port = std::getenv("ZQ417_PORT")) {
        context.environmentPort = port;
    }
    return output->finish(zq::cli::runCli(argc, argv, context));
}
