#include "app/cli/command_line.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <optional>
#include <string>
#include <string_view>

#include "app/cli/port_listing.h"
#include "app/cli/transfer_command.h"
#include "app/version.h"

namespace zq::cli {

namespace {

char upper(char c) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

std::string versionLine() {
    return "zq417-flash (" + std::string(version::ProductName) + ") " +
           std::string(version::Number) + " [" + std::string(version::Text) + "]";
}

// The port name as the job expects it ("COM1".."COM4" whatever the case, or the path as
// given); nothing when it is neither.
std::optional<std::string> normalizePortName(std::string_view name) {
    if (name.size() == 4 && upper(name[0]) == 'C' && upper(name[1]) == 'O' &&
        upper(name[2]) == 'M' && name[3] >= '1' && name[3] <= '4') {
        return std::string("COM") + name[3];
    }
    if (name.find('/') != std::string_view::npos) {
        return std::string(name);
    }
    return std::nullopt;
}

// Transforms the option in place, so the job sees the normalised name.
std::string checkPort(std::string& name) {
    if (const auto normalized = normalizePortName(name)) {
        name = *normalized;
        return {};
    }
    std::string upperName(name);
    std::transform(upperName.begin(), upperName.end(), upperName.begin(), upper);
    if (upperName.rfind("COM", 0) == 0) {
        return "only COM1 to COM4 exist; name any other port by its device path";
    }
    if (name.rfind("tty", 0) == 0) {
        return "not a port name; did you mean /dev/" + name + "?";
    }
    return "not a port name; use COM1..COM4 or a device path such as /dev/ttyUSB0";
}

void addTransferOptions(CLI::App& command, TransferRequest& request) {
    command
        .add_option("-p,--port", request.portName,
                    "COM1..COM4 (COMn is /dev/ttyS<n-1>) or a device path")
        ->type_name("PORT")
        ->capture_default_str()
        ->transform(CLI::Validator(checkPort, ""));
    command.add_flag("--trace", request.trace,
                     "Print every packet and port event on standard error");
}

}  // namespace

int runCli(int argc, const char* const* argv, CliContext& context) {
    CLI::App app(std::string(version::ProductName) +
                     ": puts the built-in firmware on a ZQ417 board over RS-232.",
                 "zq417-flash");
    app.set_version_flag("--version", versionLine());
    app.require_subcommand(1);
    app.footer(
        "Messages go to standard output when they report success and to standard error "
        "otherwise.\nExit status: 0 the operation succeeded, 1 it failed, 2 the command line "
        "was wrong.");

    TransferRequest download{.mode = ModeDownload};
    TransferRequest update{.mode = ModeUpdate};
    CLI::App* downloadCommand = app.add_subcommand(
        "download", "Load and program the firmware on a board set to download mode");
    CLI::App* updateCommand =
        app.add_subcommand("update", "Program the firmware on a board set to update mode");
    CLI::App* portsCommand =
        app.add_subcommand("ports", "List the serial devices here and which of COM1..COM4 exist");
    addTransferOptions(*downloadCommand, download);
    addTransferOptions(*updateCommand, update);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // Help and version end the run successfully; every other parse error is a usage error,
        // whatever code the parser picked.
        return app.exit(e, context.out, context.err) == 0 ? ExitSuccess : ExitUsage;
    }

    if (portsCommand->parsed()) {
        printPortListing(listPorts(context.devRoot, context.sysRoot), context.out);
        return ExitSuccess;
    }
    const TransferRequest& request = downloadCommand->parsed() ? download : update;
    const Console console{context.out, context.err, context.errIsTerminal};
    return runTransfer(request, context.platform, console) ? ExitSuccess : ExitFailed;
}

}  // namespace zq::cli
