#include <unistd.h>

#include <iostream>

#include "app/cli/command_line.h"
#include "serial/posix/posix_platform.h"

int main(int argc, char** argv) {
    zq::PosixPlatform platform;
    zq::cli::CliContext context{
        .out = std::cout,
        .err = std::cerr,
        .errIsTerminal = ::isatty(STDERR_FILENO) == 1,
        .platform = platform,
    };
    return zq::cli::runCli(argc, argv, context);
}
