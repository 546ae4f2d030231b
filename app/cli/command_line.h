#pragma once

#include <filesystem>
#include <ostream>

#include "image/startup_directory.h"
#include "serial/platform.h"

namespace zq::cli {

enum ExitStatus : int {
    ExitSuccess = 0,
    ExitFailed = 1,  // the operation ran and did not succeed
    ExitUsage = 2,   // the command line was wrong; nothing was sent
};

// What the command line runs against: the real system in main, a simulated one in tests.
struct CliContext {
    std::ostream& out;
    std::ostream& err;
    bool errIsTerminal = false;
    Platform& platform;
    std::filesystem::path devRoot = "/dev";
    std::filesystem::path sysRoot = "/sys";
    StartupDirectory startup{};  // where a HEX image is converted before it is loaded
    // The real program: a signal interrupts a transfer, which hands the port back and exits
    // with 128 + the signal's number. Tests run in-process leave the signals alone.
    bool catchInterrupts = false;
};

int runCli(int argc, const char* const* argv, CliContext& context);

}  // namespace zq::cli
